#include "tal/channel_call.h"

namespace tal::os {

uint32_t ChannelCallLibrary::initialize(uintptr_t arg) {
  ChannelCall c(kInitialize);
  c.initialize = {arg};
  return call(c);
}

uint32_t ChannelCallLibrary::create(uintptr_t arg, void **handle, uint32_t sendCount,
                                    uint32_t sendSize, uint32_t recvCount, uint32_t recvSize,
                                    uint32_t flags, void *reserved) {
  ChannelCall c(kCreate);
  c.create = {arg, handle, sendCount, sendSize, recvCount, recvSize, flags, reserved};
  return call(c);
}

uint32_t ChannelCallLibrary::send(void *handle, void *packet, uint32_t length, uint32_t *status,
                                  uintptr_t reserved) {
  ChannelCall c(kSend);
  c.send = {handle, packet, length, status, reserved};
  return call(c);
}

uint32_t ChannelCallLibrary::recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                                  uint32_t *wait) {
  ChannelCall c(kRecv);
  c.recv = {handle, buffer, capacity, status, wait};
  return call(c);
}

uint32_t ChannelCallLibrary::close(void *handle) {
  ChannelCall c(kClose);
  c.close = {handle};
  return call(c);
}

const char *ChannelCallLibrary::statusMessage(uint32_t status) {
  ChannelCall c(kStatusMessage);
  c.statusMessage = {status, nullptr};
  call(c);
  return c.statusMessage.text;
}

uint32_t ChannelCallLibrary::failed(ChannelCall &c, uint32_t status) {
  uint32_t *reported = c.function == kSend   ? c.send.status
                       : c.function == kRecv ? c.recv.status
                                             : nullptr;
  if (reported) *reported = status;
  c.statusMessage.text = nullptr;
  return c.function == kRecv ? 0 : status;
}

}  // namespace tal::os
