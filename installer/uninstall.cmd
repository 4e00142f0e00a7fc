@echo off
rem Removes what install.cmd installed. Run it from an elevated prompt. In each registry view it reads which DLL the
rem registration names and unregisters it with that view's regsvr32 when it is a copy that the zip of this version or
rem an older one put into Program Files; a newer version's registration stays for that version's uninstall.cmd. Then
rem it deletes every copy in Program Files that no registration names any more, and the emptied folders. A DLL that a
rem program still has loaded (Explorer keeps it) cannot be deleted yet: the script names it, and running it again after
rem Explorer restarts, or after you sign out and in again, deletes it.
setlocal
set "version=@PATHLIFT_VERSION@"
set "class=@PATHLIFT_CLASS_ID@"
reg query "HKU\S-1-5-19" >nul 2>&1
if errorlevel 1 goto notelevated
set "system64=%SystemRoot%\System32"
if exist %SystemRoot%\Sysnative\regsvr32.exe set "system64=%SystemRoot%\Sysnative"
set "reg=%system64%\reg.exe"
rem An installed package owns the same folders and the same registration: Programs and Features removes it.
set "upgrade=@PATHLIFT_PACKED_UPGRADE_CODE@"
%reg% query "HKLM\Software\Classes\Installer\UpgradeCodes\%upgrade%" >nul 2>&1
if not errorlevel 1 goto packaged
%reg% query "HKCU\Software\Microsoft\Installer\UpgradeCodes\%upgrade%" >nul 2>&1
if not errorlevel 1 goto packaged
set "programs64=%ProgramFiles%"
if defined ProgramW6432 set "programs64=%ProgramW6432%"
set "machine=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "machine=%PROCESSOR_ARCHITEW6432%"
set "failed="
set "kept="
set "left64="
set "left32="
if /i "%machine%"=="x86" goto only32
set "programs32=%ProgramFiles(x86)%"
set "native=x64"
if /i "%machine%"=="ARM64" set "native=arm64"
call :unregister "%system64%" /reg:64 64 "%programs64%" %native%
if exist %SystemRoot%\SysWOW64\regsvr32.exe call :unregister "%SystemRoot%\SysWOW64" /reg:32 32 "%programs32%" x86
call :remove "%programs64%"
call :remove "%programs32%"
goto done
:only32
set "programs32=%ProgramFiles%"
call :unregister "%SystemRoot%\System32" /reg:32 32 "%programs32%" x86
call :remove "%programs32%"
:done
rem The zip's marker goes with the last registration, and HKLM\Software\Pathlift with it when nothing else is there.
if defined left64 goto report
if defined left32 goto report
%reg% delete "HKLM\Software\Pathlift\Portable" /f >nul 2>&1
set "others="
for /f "delims=" %%l in ('%reg% query "HKLM\Software\Pathlift" 2^>nul') do if /i not "%%l"=="HKEY_LOCAL_MACHINE\Software\Pathlift" set "others=1"
if not defined others %reg% delete "HKLM\Software\Pathlift" /f >nul 2>&1
:report
if defined failed goto failed
if defined kept goto kept
echo Pathlift is removed.
exit /b 0
:kept
echo Pathlift is unregistered. A program still has the DLLs named above loaded: run uninstall.cmd again after Explorer restarts, or after you sign out and in again, to delete them.
exit /b 0
:failed
echo Pathlift is not removed completely; the lines above say what is left.
exit /b 1
:packaged
echo Pathlift is installed with its Windows Installer package: remove it in Programs and Features. uninstall.cmd changed nothing.
exit /b 1
:notelevated
echo uninstall.cmd needs an elevated prompt: open a command prompt with "Run as administrator" and run it there.
exit /b 1

rem :served <view switch>: sets served to the DLL that the class's in-process server key names in that view, or
rem to nothing. The value line is the one with the type, its data after it; some versions of reg print their
rem errors on the standard output.
:served
set "served="
set "line="
for /f "delims=" %%l in ('%reg% query "HKLM\Software\Classes\CLSID\%class%\InprocServer32" /ve %1 2^>nul') do set "line=%%l"
if not defined line exit /b 0
if "%line:REG_SZ=%"=="%line%" exit /b 0
set "served=%line:*REG_SZ=%"
:trim
if "%served:~0,1%"==" " set "served=%served:~1%" & goto trim
exit /b 0

rem :zipcopy <program files folder> <x64|arm64|x86>: sets named to the version of the zip copy that served is, or to
rem nothing when served is not %~1\Pathlift\<version>\%2\Pathlift.dll.
:zipcopy
set "named="
if not defined served exit /b 0
set "tail=%served%"
call set "tail=%%tail:*\Pathlift\=%%"
for /f "delims=\" %%v in ("%tail%") do set "named=%%v"
if not defined named exit /b 0
if /i not "%served%"=="%~1\Pathlift\%named%\%2\Pathlift.dll" set "named="
exit /b 0

rem :newer <a.b.c.d>: errorlevel 1 when that version is newer than this one.
:newer
for /f "tokens=1-4 delims=." %%a in ("%version%") do for /f "tokens=1-4 delims=." %%e in ("%~1") do call :compare %%a %%b %%c %%d %%e %%f %%g %%h
exit /b %errorlevel%
:compare
if %5 GTR %1 exit /b 1
if %5 LSS %1 exit /b 0
if %6 GTR %2 exit /b 1
if %6 LSS %2 exit /b 0
if %7 GTR %3 exit /b 1
if %7 LSS %3 exit /b 0
if %8 GTR %4 exit /b 1
exit /b 0

rem :unregister <system folder> <view switch> <32|64> <program files folder> <x64|arm64|x86>: unregisters what that view
rem names when it is one of ours, and sets left<bits> to what the view still names afterwards.
:unregister
call :served %2
if not defined served exit /b 0
call :zipcopy "%~4" %5
if not defined named goto foreign
call :newer %named%
if errorlevel 1 goto newerversion
if not exist "%served%" goto missing
set "unregistering=%served%"
"%~1\regsvr32.exe" /s /u "%served%"
call :served %2
if not defined served exit /b 0
echo Could not unregister %unregistering% (%3-bit regsvr32 /u): it stays registered and on disk.
set "left%3=%served%"
set "failed=1"
exit /b 0
:foreign
echo The %3-bit registration names %served%, which no Pathlift zip installed: left as it is.
set "left%3=%served%"
set "failed=1"
exit /b 0
:newerversion
echo The %3-bit registration is Pathlift %named%'s (%served%): left for the uninstall.cmd of that version.
set "left%3=%served%"
set "failed=1"
exit /b 0
:missing
echo The %3-bit registration names %served%, which no longer exists, so regsvr32 cannot unregister it: left as it is.
set "left%3=%served%"
set "failed=1"
exit /b 0

rem :remove <program files folder>: deletes every version's DLLs there that no registration names, then the emptied
rem folders; names each DLL it could not delete.
:remove
for /f "delims=" %%v in ('dir /b /ad "%~1\Pathlift" 2^>nul') do call :version "%~1\Pathlift\%%v"
rd "%~1\Pathlift" >nul 2>&1
exit /b 0
:version
call :delete "%~1\x64\Pathlift.dll"
call :delete "%~1\arm64\Pathlift.dll"
call :delete "%~1\x86\Pathlift.dll"
rd "%~1\x64" >nul 2>&1
rd "%~1\arm64" >nul 2>&1
rd "%~1\x86" >nul 2>&1
rd "%~1" >nul 2>&1
exit /b 0
:delete
if not exist "%~1" exit /b 0
if /i "%~1"=="%left64%" exit /b 0
if /i "%~1"=="%left32%" exit /b 0
del /q "%~1" >nul 2>&1
if not exist "%~1" exit /b 0
echo Could not delete %~1: a program has it loaded.
set "kept=1"
exit /b 0
