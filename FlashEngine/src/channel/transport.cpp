// Placeholder until the channel transport lands: no channel library.
#include "channel/transport.h"

void *g_channel = nullptr;
bool openChannel() { return false; }
uint32_t initChannelInterface(uintptr_t) { return 1; }
uint32_t createChannel() { return 1; }
void closeChannel() {}
uint32_t sendPacket(void *) { return CHANNEL_INVALID_ARG; }
uint32_t exchangePacket(void *, void *, uint32_t) { return CHANNEL_INVALID_ARG; }
