# Every tool keeps one command-line convention: --help, --version, usage errors.
tal_add_e2e(tool_conventions tool_conventions.sh NEEDS talhost pkgcheck fwimage taldevice talsim
            ENV TAL_PROJECT_VERSION=${PROJECT_VERSION})
