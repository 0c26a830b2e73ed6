# The package definition through the exports: properties 1, 2 and 4 by language, a Shift_JIS
# package, the operating-system check's text beside the engine's status, install.xml read; and on
# the Windows build the operating-system check against wine set to other Windows versions.
tal_add_e2e(package_properties package_properties.sh NEEDS talhost tal_install TalCi sample_package)
if(WIN32)
  tal_add_e2e(package_os_versions package_os_wine.sh NEEDS talhost tal_install TalCi sample_package)
endif()
# pkgcheck on the sample package and on broken copies of it, natively and pkgcheck.exe under wine.
tal_add_e2e(pkgcheck pkgcheck.sh NEEDS pkgcheck fwimage sample_package sample_driver)
# fwimage makes only images the plug-in could flash.
tal_add_e2e(fwimage fwimage.sh NEEDS fwimage)
