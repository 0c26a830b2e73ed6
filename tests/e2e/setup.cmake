# Driver installation for real: the INF model, the PnP driver installer and the device list on
# wine's setup library, registry and service manager (in a copy of the prefix), and natively on
# the simulated host with its record file.
tal_add_e2e(setup_host setup_host.sh NEEDS test_setup)
