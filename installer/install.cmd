@echo off
rem Installs Pathlift @PATHLIFT_VERSION@ without an installer, for every user of this machine: run it from an elevated
rem prompt. It copies the DLLs from this folder into Program Files, where only administrators can change them, and
rem registers those copies: %ProgramFiles%\Pathlift\<version>\x64 for 64-bit Explorer (arm64 for the ARM64 Explorer of
rem Windows on ARM) and
rem %ProgramFiles(x86)%\Pathlift\<version>\x86 for the file dialogs of 32-bit programs; on 32-bit Windows
rem %ProgramFiles%\Pathlift\<version>\x86 alone. The DLLs of other versions are deleted once no program has them
rem loaded, here or at the next install or removal. HKLM\Software\Pathlift\Portable says which version the zip
rem installed: the MSI packages refuse to install over it, as this script refuses to install over them.
setlocal
set "version=@PATHLIFT_VERSION@"
set "here=%~dp0"
rem Only an elevated administrator can open the LocalService account's hive, which Windows always has loaded.
reg query "HKU\S-1-5-19" >nul 2>&1
if errorlevel 1 goto notelevated
rem A 32-bit cmd.exe on 64-bit Windows sees SysWOW64 as System32 and Program Files (x86) as Program Files; Sysnative
rem and ProgramW6432 are the real ones, and PROCESSOR_ARCHITEW6432 the machine's architecture.
set "system64=%SystemRoot%\System32"
if exist %SystemRoot%\Sysnative\regsvr32.exe set "system64=%SystemRoot%\Sysnative"
rem Windows Installer keeps each installed product under its upgrade code, packed as it writes GUIDs there: per
rem machine in HKLM, per user in the installing user's HKCU. The package's files and registration are its own.
set "upgrade=@PATHLIFT_PACKED_UPGRADE_CODE@"
%system64%\reg.exe query "HKLM\Software\Classes\Installer\UpgradeCodes\%upgrade%" >nul 2>&1
if not errorlevel 1 goto packaged
%system64%\reg.exe query "HKCU\Software\Microsoft\Installer\UpgradeCodes\%upgrade%" >nul 2>&1
if not errorlevel 1 goto packaged
set "programs64=%ProgramFiles%"
if defined ProgramW6432 set "programs64=%ProgramW6432%"
set "machine=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "machine=%PROCESSOR_ARCHITEW6432%"
if /i "%machine%"=="x86" goto only32
rem Explorer on Windows on ARM is an ARM64 process, which loads ARM64 DLLs only.
set "native=x64"
if /i "%machine%"=="ARM64" set "native=arm64"
call :place %native% "%programs64%"
if errorlevel 1 goto failed
"%system64%\regsvr32.exe" /s "%programs64%\Pathlift\%version%\%native%\Pathlift.dll"
if errorlevel 1 goto failed
call :leftovers "%programs64%"
rem Without WoW64 (a Server Core installation can lack it) no 32-bit program runs to load the 32-bit DLL.
if not exist %SystemRoot%\SysWOW64\regsvr32.exe goto done
set "programs32=%ProgramFiles(x86)%"
call :place x86 "%programs32%"
if errorlevel 1 goto failed
"%SystemRoot%\SysWOW64\regsvr32.exe" /s "%programs32%\Pathlift\%version%\x86\Pathlift.dll"
if errorlevel 1 goto failed
call :leftovers "%programs32%"
goto done
:only32
set "programs32=%ProgramFiles%"
call :place x86 "%programs32%"
if errorlevel 1 goto failed
"%SystemRoot%\System32\regsvr32.exe" /s "%programs32%\Pathlift\%version%\x86\Pathlift.dll"
if errorlevel 1 goto failed
call :leftovers "%programs32%"
:done
%system64%\reg.exe add "HKLM\Software\Pathlift\Portable" /v Version /d %version% /f >nul
echo Pathlift %version% is installed. An Explorer that has an older version loaded shows this one after it restarts, or after you sign out and in again.
exit /b 0
:failed
echo Installing Pathlift failed; see the message above.
exit /b 1
:packaged
echo Pathlift is installed with its Windows Installer package (Pathlift-^<version^>-x64.msi or -x86.msi): remove it in Programs and Features first. install.cmd changed nothing.
exit /b 1
:notelevated
echo install.cmd needs an elevated prompt: open a command prompt with "Run as administrator" and run it there.
exit /b 1

rem :place <x64|arm64|x86> <program files folder>: copies that DLL of this folder into the version's folder there. A
rem copy that a program keeps loaded cannot be replaced; it is this version's already and stays.
:place
md "%~2\Pathlift\%version%\%1" 2>nul
copy /y "%here%%1\Pathlift.dll" "%~2\Pathlift\%version%\%1\Pathlift.dll" >nul 2>&1
if not errorlevel 1 exit /b 0
if exist "%~2\Pathlift\%version%\%1\Pathlift.dll" exit /b 0
echo Could not copy %1\Pathlift.dll to %~2\Pathlift\%version%\%1.
exit /b 1

rem :leftovers <program files folder>: deletes the DLLs of other versions there and their folders; a DLL still
rem loaded stays, with its folder, until a later run.
:leftovers
for /f "delims=" %%v in ('dir /b /ad "%~1\Pathlift" 2^>nul') do call :version "%~1\Pathlift\%%v"
exit /b 0
:version
if /i "%~nx1"=="%version%" exit /b 0
del /q "%~1\x64\Pathlift.dll" "%~1\arm64\Pathlift.dll" "%~1\x86\Pathlift.dll" >nul 2>&1
rd "%~1\x64" >nul 2>&1
rd "%~1\arm64" >nul 2>&1
rd "%~1\x86" >nul 2>&1
rd "%~1" >nul 2>&1
exit /b 0
