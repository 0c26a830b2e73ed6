# The driver-package plug-in with the sample driver package: LEGACY (checks before and after,
# newer package, dependency.xml, unknown type) and PNP on a root device the test creates.
foreach(c legacy pnp virtual)
  tal_add_e2e(drvinstall_${c} drvinstall.sh NEEDS talhost tal_drvinstall taldevice sample_driver
              ENV DRV_CASE=${c})
endforeach()
