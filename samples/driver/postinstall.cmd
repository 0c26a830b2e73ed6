@echo off
rem Runs after the driver package is installed: notes it beside this file.
echo installed>"%~dp0postinstall.done"
