@echo off
rem SPDX-FileCopyrightText: 2026 the drvflip authors
rem SPDX-License-Identifier: MIT
rem Switches this machine's reader to the @TYPE@ driver, for any agent that runs
rem a cmd script: exit 0 switched, 2 no reader attached, 1 failed; one line on
rem standard output, nothing on standard error. drvflip.exe is taken from this
rem script's folder, else from the 64-bit Program Files (from a 32-bit process
rem too), never from the current folder or the PATH: a Program Files that is
rem not a full path (a drive and its root folder) counts as none.
setlocal EnableExtensions DisableDelayedExpansion
set "root=%ProgramW6432%"
if not "%root:~1,2%"==":\" set "root=%ProgramFiles%"
if not "%root:~1,2%"==":\" set "root="
set "exe=%~dp0drvflip.exe"
if not exist "%exe%" if defined root set "exe=%root%\drvflip\drvflip.exe"
if not exist "%exe%" goto missing
rem A log of this run's own, removed when it is read.
:name
set "log=%TEMP%\drvflip-%RANDOM%-%RANDOM%.log"
if exist "%log%" goto name
"%exe%" @COMMAND@ <nul >"%log%" 2>&1
set "status=%errorlevel%"
set "outcome=failed"
for /f "usebackq delims=" %%l in ("%log%") do (
  if "%%l"=="Currently activated driver type: @TYPE@" set "outcome=switched"
  if "%%l"=="0 device(s) found." set "outcome=none"
)
del /f /q "%log%" >nul 2>&1
if not "%status%"=="0" goto failed
if "%outcome%"=="switched" goto switched
if "%outcome%"=="none" goto none
echo failed: drvflip @COMMAND@ did not read back @TYPE@
exit /b 1
:switched
echo switched: the reader runs @TYPE@
exit /b 0
:none
echo nothing to switch: no reader attached
exit /b 2
:failed
echo failed: drvflip @COMMAND@ failed with status %status%
exit /b 1
:missing
echo failed: drvflip.exe is neither beside this script nor in Program Files\drvflip
exit /b 1
