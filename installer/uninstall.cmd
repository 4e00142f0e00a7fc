@echo off
rem Removes what install.cmd installed: unregisters the Program Files copies of Pathlift @PATHLIFT_VERSION@, deletes them
rem and their folders, and the DLLs that other versions left behind. Run it from an elevated prompt. A DLL that a
rem program still has loaded (Explorer keeps it) cannot be deleted yet: the script says so, and running it again
rem after Explorer restarts, or after you sign out and in again, deletes it.
setlocal
set "version=@PATHLIFT_VERSION@"
reg query "HKU\S-1-5-19" >nul 2>&1
if errorlevel 1 goto notelevated
set "system64=%SystemRoot%\System32"
if exist %SystemRoot%\Sysnative\regsvr32.exe set "system64=%SystemRoot%\Sysnative"
set "programs64=%ProgramFiles%"
if defined ProgramW6432 set "programs64=%ProgramW6432%"
set "machine=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "machine=%PROCESSOR_ARCHITEW6432%"
set "status=0"
if /i "%machine%"=="x86" goto only32
set "programs32=%ProgramFiles(x86)%"
set "native=x64"
if /i "%machine%"=="ARM64" set "native=arm64"
call :unregister "%system64%" "%programs64%" %native%
if exist %SystemRoot%\SysWOW64\regsvr32.exe call :unregister "%SystemRoot%\SysWOW64" "%programs32%" x86
call :remove "%programs64%"
call :remove "%programs32%"
goto done
:only32
set "programs32=%ProgramFiles%"
call :unregister "%SystemRoot%\System32" "%programs32%" x86
call :remove "%programs32%"
:done
if "%status%"=="1" goto failed
set "kept="
if exist "%programs64%\Pathlift\" set "kept=1"
if exist "%programs32%\Pathlift\" set "kept=1"
if defined kept goto kept
echo Pathlift is removed.
exit /b 0
:kept
echo Pathlift is unregistered. A program still has a DLL of it loaded: run uninstall.cmd again after Explorer restarts, or after you sign out and in again, to delete it.
exit /b 0
:failed
echo Unregistering Pathlift failed; see the message above.
exit /b 1
:notelevated
echo uninstall.cmd needs an elevated prompt: open a command prompt with "Run as administrator" and run it there.
exit /b 1

rem :unregister <system folder> <program files folder> <x64|arm64|x86>: the registration goes with this version's copy.
:unregister
if not exist "%~2\Pathlift\%version%\%3\Pathlift.dll" exit /b 0
"%~1\regsvr32.exe" /s /u "%~2\Pathlift\%version%\%3\Pathlift.dll"
if errorlevel 1 set "status=1"
exit /b 0

rem :remove <program files folder>: deletes every version's DLLs there and then the emptied folders.
:remove
for /f "delims=" %%v in ('dir /b /ad "%~1\Pathlift" 2^>nul') do call :version "%~1\Pathlift\%%v"
rd "%~1\Pathlift" >nul 2>&1
exit /b 0
:version
del /q "%~1\x64\Pathlift.dll" "%~1\arm64\Pathlift.dll" "%~1\x86\Pathlift.dll" >nul 2>&1
rd "%~1\x64" >nul 2>&1
rd "%~1\arm64" >nul 2>&1
rd "%~1\x86" >nul 2>&1
rd "%~1" >nul 2>&1
exit /b 0
