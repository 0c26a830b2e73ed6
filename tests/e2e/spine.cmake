# The plug-in spine: talhost drives the plug-in through its three exports.
tal_add_e2e(spine_talhost spine_talhost.sh NEEDS talhost tal_install)
# Links in place of the log folders and files lead no write elsewhere.
tal_add_e2e(log_links log_links.sh NEEDS talhost tal_install)
