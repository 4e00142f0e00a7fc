@echo off
rem Removes what install.cmd registered: run it from an elevated prompt, then delete this folder.
setlocal
set "here=%~dp0"
set "system64=%SystemRoot%\System32"
if exist %SystemRoot%\Sysnative\regsvr32.exe set "system64=%SystemRoot%\Sysnative"
set "status=0"
if not exist %SystemRoot%\SysWOW64\regsvr32.exe goto only32
"%system64%\regsvr32.exe" /s /u "%here%x64\Pathlift.dll"
if errorlevel 1 set "status=1"
"%SystemRoot%\SysWOW64\regsvr32.exe" /s /u "%here%x86\Pathlift.dll"
if errorlevel 1 set "status=1"
goto done
:only32
"%SystemRoot%\System32\regsvr32.exe" /s /u "%here%x86\Pathlift.dll"
if errorlevel 1 set "status=1"
:done
if "%status%"=="1" goto failed
echo Pathlift is unregistered. Explorer may keep the DLL loaded until it restarts.
exit /b 0
:failed
echo Unregistering Pathlift failed. Run uninstall.cmd from a command prompt opened with "Run as administrator".
exit /b 1
