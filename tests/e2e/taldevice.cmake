# taldevice inf: the INF corpus as the tool shows it, against the setup library's readings.
tal_add_e2e(taldevice_inf taldevice_inf.sh NEEDS taldevice)
