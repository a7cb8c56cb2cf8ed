@echo off
rem Runs every test of the bundle: for a disposable Windows machine or VM only.
rem It installs and uninstalls the sample kit, changes InstallerLocation and
rem the vendor keys, and puts each back after every case.
rem   run-tests.cmd [results file]     (default: results.txt beside this file)
rem   ORVA_TESTS_CASES=<file>  runs only that case file of the cases folder
rem   ORVA_TESTS_NO_GTEST=1    runs no Windows-level test
rem Exit code 0 when nothing failed.
setlocal
set "BUNDLE=%~dp0"
set "BUNDLE=%BUNDLE:~0,-1%"
set "RESULTS=%~1"
if "%RESULTS%"=="" set "RESULTS=%BUNDLE%\results.txt"

echo This bundle is meant for a disposable Windows machine or VM: it installs
echo test software and changes machine-wide settings while it runs.

rem Administrator rights: an elevated token of the Administrators group.
"%BUNDLE%\bin\driver.exe" --admin-check
if errorlevel 1 exit /b 2

if exist "%RESULTS%" del "%RESULTS%"
echo results: %RESULTS%

echo == end-to-end cases
if not "%ORVA_TESTS_CASES%"=="" goto one_case_file
for %%f in ("%BUNDLE%\cases\*.txt") do call :case_file "%%~f"
goto windows_level
:one_case_file
call :case_file "%BUNDLE%\cases\%ORVA_TESTS_CASES%"

:windows_level
if "%ORVA_TESTS_NO_GTEST%"=="1" goto summary
echo == Windows-level tests
rem The OnVersion52 and OnVersion51 suites need the version Wine reports per
rem program name (tests/wine/fixture.sh): they run in make test only.
"%BUNDLE%\bin\driver.exe" --gtest "%BUNDLE%\bin\windows_tests.exe" "%RESULTS%" "--gtest_filter=-OnVersion52.*:OnVersion51.*"

:summary
echo == summary
"%BUNDLE%\bin\driver.exe" --summary "%RESULTS%"
exit /b %errorlevel%

rem The cases of one file; a driver that could not run says so in the results.
:case_file
echo -- %~nx1
"%BUNDLE%\bin\driver.exe" "%BUNDLE%" "%RESULTS%" "%~1"
if errorlevel 2 echo fail driver: it could not run the cases of %~nx1 (exit code %errorlevel%)>>"%RESULTS%"
exit /b 0
