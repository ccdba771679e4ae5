@echo off
rem Runs every test of this kit on this machine and counts them (check_runner.exe does the work):
rem   check.cmd                              against the kit's own TevraRemoteUpdater.exe
rem   check.cmd PATH\TevraRemoteUpdater.exe   against a shipped copy
rem   check.cmd --differences                the tests whose expectation differs between Wine and Windows
"%~dp0check_runner.exe" %*
exit /b %errorlevel%
