@echo off
rem run-tests.cmd [/ci]: runs the tests of tovrel.dll @VERSION@ on this computer; README-tests.txt
rem says what they do. Plain cmd, so that it runs on every Windows the DLL supports and under Wine
rem (which has no PowerShell and a findstr without most of its options: the logs are read with
rem find and for /f).
rem
rem Each program runs in results\, beside this file, which then holds its log, its GoogleTest XML
rem and the screenshots it takes; results\summary.txt gets one line per program: its counts, or how
rem it ended before it printed them. The exit code is 0 only when every program passed.
rem
rem The tests rewrite the add-on host's registry tree. It is exported before they run and put back
rem after them; a backup that a stopped run left behind is put back first, before anything else.
rem Without /ci it says what is about to happen and waits for a key at the start and the end.
setlocal EnableExtensions DisableDelayedExpansion
set "here=%~dp0"
set "results=%~dp0results"
set "tree=HKCU\Software\Quorvel"
set "backup=%~dp0results\registry-backup.reg"
set "absent=%~dp0results\registry-backup.none"
set "ci="
if /i "%~1"=="/ci" set "ci=1"

if not exist "%here%tovrel-tests.exe" (
  echo tovrel-tests.exe is not beside run-tests.cmd: unzip the whole package into a folder and
  echo run run-tests.cmd from there.
  if not defined ci pause
  exit /b 2
)
rem A hung program ends itself at this time limit, in seconds (exit code 124).
if not defined TOVREL_TIME_LIMIT_S set "TOVREL_TIME_LIMIT_S=600"

if not defined ci (
  echo The tests of tovrel.dll @VERSION@. They take about two minutes.
  echo.
  echo While they run they move the mouse pointer, press keys and bring their own windows to
  echo the front. Leave the mouse and the keyboard alone until this window says it is done.
  echo.
  echo They change the add-on host's settings, HKEY_CURRENT_USER\Software\Quorvel. These are
  echo saved first, to results\registry-backup.reg, and put back when the tests end. If the run
  echo is stopped, the next run of run-tests.cmd puts them back before it does anything else.
  echo.
  echo The results go to "%results%".
  echo.
  echo Press a key to start, or close this window to leave everything as it is.
  pause >nul
)

call :restore
if errorlevel 1 goto :cannot_restore
if exist "%results%" rd /s /q "%results%"
md "%results%"
if errorlevel 1 (
  echo Cannot make "%results%".
  goto :end_failed
)
call :save
if errorlevel 1 (
  echo Cannot export %tree%; nothing was run.
  goto :end_failed
)

set "failures=0"
pushd "%results%"
call :run tovrel-tests
popd

call :restore
if errorlevel 1 goto :cannot_restore
echo.
type "%results%\summary.txt"
if "%failures%"=="0" (
  echo All passed. The results are in "%results%".
) else (
  echo Not all passed. The logs are in "%results%".
)
if not defined ci pause
if not "%failures%"=="0" exit /b 1
exit /b 0

:cannot_restore
echo Cannot put back %tree% from "%backup%": it is left there. Import it with
echo   reg import "%backup%"
echo or run run-tests.cmd again, which tries it first.
:end_failed
if not defined ci pause
exit /b 2

rem :save: the tree as it is now, as a .reg file, or a marker that there is none.
:save
del /q "%backup%.partial" "%absent%" >nul 2>&1
reg query "%tree%" >nul 2>&1
if errorlevel 1 (
  type nul >"%absent%"
  exit /b 0
)
rem Exported under another name first: a half-written backup is never taken for a whole one.
reg export "%tree%" "%backup%.partial" >nul 2>&1
if errorlevel 1 exit /b 1
move /y "%backup%.partial" "%backup%" >nul
exit /b %errorlevel%

rem :restore: the tree as the backup has it (none, for the marker), then the backup goes. Nothing
rem to do without a backup.
:restore
if exist "%backup%" (
  reg delete "%tree%" /f >nul 2>&1
  reg import "%backup%" >nul 2>&1
  if errorlevel 1 exit /b 1
  del /q "%backup%"
) else if exist "%absent%" (
  reg delete "%tree%" /f >nul 2>&1
  reg query "%tree%" >nul 2>&1
  if not errorlevel 1 exit /b 1
  del /q "%absent%"
)
exit /b 0

rem :run NAME: runs NAME.exe from this folder in results\ and adds its line to the summary.
:run
set "program=%~1.exe"
set "log=%~1.log"
echo Running %program% (log: results\%log%) ...
"%here%%program%" --gtest_output=xml:%~1.xml >"%log%" 2>&1
set "code=%errorlevel%"
set "unread="
call :wait_until_written "%log%"
if errorlevel 1 set "unread=1"
rem GoogleTest's own lines: the count of cases run, then each outcome's count; and the last case
rem started, for a run that ended before them.
set "ran=" & set "passed=0" & set "failed=0" & set "skipped=0" & set "last="
for /f "tokens=2" %%n in ('type "%log%" ^| find "[==========] " ^| find " ran."') do set "ran=%%n"
for /f "tokens=4" %%n in ('type "%log%" ^| find "[  PASSED  ] "') do set "passed=%%n"
for /f "tokens=4" %%n in ('type "%log%" ^| find "[  FAILED  ] " ^| find "listed below:"') do set "failed=%%n"
for /f "tokens=4" %%n in ('type "%log%" ^| find "[  SKIPPED ] " ^| find "listed below:"') do set "skipped=%%n"
for /f "tokens=4" %%n in ('type "%log%" ^| find "[ RUN      ] "') do set "last=%%n"
set "line=%program%: %passed% passed, %failed% failed, %skipped% skipped"
if not "%code%"=="0" set "line=%line% (exit code %code%)"
if not defined ran (
  set "line=%program%: ended before its summary, exit code %code%"
  if "%code%"=="124" set "line=%program%: ended before its summary at its time limit of %TOVREL_TIME_LIMIT_S% s (exit code 124)"
)
if not defined ran if defined last set "line=%line%, in or after %last%"
if defined unread set "line=%program%: exit code %code%; its log stayed open for writing a minute after it ended"
rem (The redirection first: a line that ends in a digit would otherwise name a handle.)
>>summary.txt echo %line%
if not defined ran set /a failures+=1
if not "%code%"=="0" set /a failures+=1
if not "%failed%"=="0" set /a failures+=1
exit /b 0

rem :wait_until_written FILE: a process the program started (its second host) may hold its log
rem open a moment longer, and Wine lets nothing read a file that another process writes. Up to a
rem minute, a second at a time (ping is the one way to wait that every Windows has).
:wait_until_written
for /l %%t in (1,1,60) do (
  type "%~1" >nul 2>&1
  if not errorlevel 1 exit /b 0
  ping -n 2 127.0.0.1 >nul
)
exit /b 1
