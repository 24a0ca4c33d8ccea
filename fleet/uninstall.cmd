@echo off
rem SPDX-FileCopyrightText: 2026 the drvflip authors
rem SPDX-License-Identifier: MIT
rem Removes what install.cmd installed: C:\Program Files\drvflip\drvflip.exe and
rem its folder, where the folder is then empty. An Intune Win32 app or a
rem Configuration Manager application runs it as its uninstall command. Exit 0
rem removed, or not installed; 4 the exe could not be removed (or no Program
rem Files is a full path). One line on standard output.
setlocal EnableExtensions DisableDelayedExpansion
rem A Program Files that is not a full path (a drive and its root folder)
rem counts as none.
set "root=%ProgramW6432%"
if not "%root:~1,2%"==":\" set "root=%ProgramFiles%"
if not "%root:~1,2%"==":\" goto noroot
set "dest=%root%\drvflip"
if not exist "%dest%\drvflip.exe" goto absent
del /f /q "%dest%\drvflip.exe" >nul 2>&1
if exist "%dest%\drvflip.exe" goto busy
rd "%dest%" >nul 2>&1
echo removed: %dest%\drvflip.exe
exit /b 0
:absent
echo removed: drvflip.exe was not installed in %dest%
exit /b 0
:busy
echo failed: %dest%\drvflip.exe could not be removed (is it running?)
exit /b 4
:noroot
echo failed: neither ProgramW6432 nor ProgramFiles names a full path
exit /b 4
