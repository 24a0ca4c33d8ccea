@echo off
rem SPDX-FileCopyrightText: 2026 the drvflip authors
rem SPDX-License-Identifier: MIT
rem Installs drvflip.exe as C:\Program Files\drvflip\drvflip.exe (the 64-bit
rem Program Files, from a 32-bit process too), from the release's folder that
rem holds this script's folder: x64\drvflip.exe on 64-bit Windows, else
rem x86\drvflip.exe. An Intune Win32 app or a Configuration Manager application
rem runs it as its install command. Exit 0 installed; 2 the release's folder
rem lacks the exe; 3 the folder could not be made (or no Program Files is a
rem full path); 4 the exe could not be copied. One line on standard output.
setlocal EnableExtensions DisableDelayedExpansion
set "arch=x86"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "arch=x64"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "arch=x64"
rem A Program Files that is not a full path (a drive and its root folder)
rem counts as none.
set "root=%ProgramW6432%"
if not "%root:~1,2%"==":\" set "root=%ProgramFiles%"
if not "%root:~1,2%"==":\" goto noroot
set "dest=%root%\drvflip"
set "source=%~dp0..\%arch%\drvflip.exe"
if not exist "%source%" goto nosource
if not exist "%dest%\" mkdir "%dest%" >nul 2>&1
if not exist "%dest%\" goto nofolder
copy /y /b "%source%" "%dest%\drvflip.exe" >nul 2>&1
if errorlevel 1 goto nocopy
echo installed: %dest%\drvflip.exe (%arch%)
exit /b 0
:nosource
echo failed: %arch%\drvflip.exe is not in the release's folder beside this script's
exit /b 2
:nofolder
echo failed: %dest% could not be made
exit /b 3
:nocopy
echo failed: drvflip.exe could not be copied to %dest%
exit /b 4
:noroot
echo failed: neither ProgramW6432 nor ProgramFiles names a full path
exit /b 3
