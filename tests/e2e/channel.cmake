# The channel end to end: talhost and the plug-in against the simulated channel library, with
# the library present, missing, failing to initialise, and behind an old processor.
tal_add_e2e(channel_talhost channel_talhost.sh NEEDS talhost tal_install TalCi sample_package)
