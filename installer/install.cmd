@echo off
rem Registers Pathlift without an installer, for every user of this machine: run it from an elevated prompt.
rem On 64-bit Windows the 64-bit DLL goes to the 64-bit regsvr32 (Explorer) and the 32-bit DLL to the 32-bit one
rem (open and save dialogs of 32-bit programs); on 32-bit Windows the 32-bit DLL alone.
setlocal
set "here=%~dp0"
rem A 32-bit cmd.exe on 64-bit Windows sees SysWOW64 as System32; Sysnative is the real one.
set "system64=%SystemRoot%\System32"
if exist %SystemRoot%\Sysnative\regsvr32.exe set "system64=%SystemRoot%\Sysnative"
if not exist %SystemRoot%\SysWOW64\regsvr32.exe goto only32
"%system64%\regsvr32.exe" /s "%here%x64\Pathlift.dll"
if errorlevel 1 goto failed
"%SystemRoot%\SysWOW64\regsvr32.exe" /s "%here%x86\Pathlift.dll"
if errorlevel 1 goto failed
goto done
:only32
"%SystemRoot%\System32\regsvr32.exe" /s "%here%x86\Pathlift.dll"
if errorlevel 1 goto failed
:done
echo Pathlift is registered. If the entry does not show yet, restart Explorer.
exit /b 0
:failed
echo Registering Pathlift failed. Run install.cmd from a command prompt opened with "Run as administrator".
exit /b 1
