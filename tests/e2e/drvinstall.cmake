# The driver-package plug-in with the sample driver package: LEGACY (checks before and after,
# newer package, dependency.xml, unknown type) and PNP on a root device the test creates;
# VIRTUAL natively only (wine's setup library cannot select a class driver for a new device).
set(_cases legacy pnp)
if(NOT WIN32)
  list(APPEND _cases virtual)
endif()
foreach(c ${_cases})
  tal_add_e2e(drvinstall_${c} drvinstall.sh NEEDS talhost tal_drvinstall taldevice sample_driver
              ENV DRV_CASE=${c})
endforeach()
