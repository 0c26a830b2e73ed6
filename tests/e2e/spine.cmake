# The plug-in spine: talhost drives the plug-in through its three exports.
tal_add_e2e(spine_talhost spine_talhost.sh NEEDS talhost tal_install)
