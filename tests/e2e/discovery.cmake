# Discovery end to end: talhost on the sample package against simulated machines (native), and
# the no-card path on the Windows build, where wine's SMBIOS has no switch card.
if(WIN32)
  tal_add_e2e(discovery_no_cards discovery_wine.sh NEEDS talhost tal_install TalCi sample_package)
else()
  tal_add_e2e(discovery_states discovery_states.sh
              NEEDS talhost tal_install TalCi talsim sample_package)
  tal_add_e2e(discovery_options discovery_options.sh
              NEEDS talhost tal_install TalCi talsim sample_package)
endif()
