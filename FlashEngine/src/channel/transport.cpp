// The channel to the management processor over the channel library, and the exchange of one
// request for its one matching response.
//
// The library is reached only through the platform seam: a presence test before anything else,
// then its six functions, each bound by the seam on its first call. Every packet and the request
// summary live on the caller's stack; nothing is allocated per exchange.
#include "channel/transport.h"

#include <cstdio>
#include <string>

#include "log.h"
#include "state.h"
#include "tal/platform.h"

namespace {

constexpr uint32_t kPacketCount = 2;
constexpr uint32_t kPacketSize = 4096;
constexpr uint32_t kSendAttempts = 10;
constexpr uint32_t kSendPauseMs = 50;
constexpr uint32_t kReceives = 4;
constexpr uint32_t kReceiveWait = 20000;
constexpr uint32_t kInitPauseMs = 500;
// What a status reads as when the library did not write it: a failure, never a success.
constexpr uint32_t kStatusUnwritten = 0xFFFFFFFFu;

tal::os::ChannelLibrary &library() { return tal::os::sys().channelLibrary(); }
// The open channel's handle (null while none is open).
void *&channelHandle() { return engineState().channel.handle; }

// The library's text for a status; a library that answers with no text is logged as "".
const char *statusText(uint32_t status) {
  const char *text = library().statusMessage(status);
  return text ? text : "";
}

}  // namespace

bool openChannel() { return initChannelInterface(0) == 0 && createChannel() == 0; }

// Where the library came from, or each place looked in when none was found, and each place
// passed over as not trusted.
static void logLibrarySearch(bool present) {
  tal::os::Platform &os = tal::os::sys();
  const tal::os::ChannelLibrarySearch search = os.channelLibrarySearch();
  for (const std::wstring &place : search.passedOver)
    logMessage(LOG_VERBOSE, "TalCi.dll: not looked for in %s\n", os.toAnsi(place).c_str());
  if (present) {
    if (search.loaded.empty()) return;
    const std::string path = os.toAnsi(search.loaded);
    if (search.hasVersion) {
      const uint16_t *v = search.version.part;
      logMessage(LOG_VERBOSE, "TalCi.dll loaded from %s, file version %u.%u.%u.%u\n", path.c_str(),
                 v[0], v[1], v[2], v[3]);
    } else {
      logMessage(LOG_VERBOSE, "TalCi.dll loaded from %s, no file version\n", path.c_str());
    }
    return;
  }
  for (const std::wstring &place : search.lookedIn)
    logMessage(LOG_VERBOSE, "TalCi.dll: not found in %s\n", os.toAnsi(place).c_str());
  if (!search.failure.empty())
    logMessage(LOG_VERBOSE, "TalCi.dll: %s\n", os.toAnsi(search.failure).c_str());
}

// The channel capture asked for with TAL_CHANNEL_RECORD: where it goes, or why it is not written
// (the run goes on either way). At the close only a failure is logged.
static void logCapture(bool opening) {
  tal::os::Platform &os = tal::os::sys();
  const tal::os::ChannelCapture capture = os.channelCapture();
  if (capture.path.empty()) return;
  const std::string path = os.toAnsi(capture.path);
  if (!capture.failure.empty()) {
    logMessage(LOG_VERBOSE, "Channel capture %s not written: %s\n", path.c_str(),
               capture.failure.c_str());
  } else if (opening) {
    logMessage(LOG_VERBOSE, "Channel capture: recording to %s\n", path.c_str());
  }
}

uint32_t initChannelInterface(uintptr_t arg) {
  if (!tal::os::sys().channelLibraryPresent()) {
    logLibrarySearch(false);
    logMessage(LOG_ALL, "Setup is unable to load a setup DLL: TalCi.dll\n");
    return 1;
  }
  logMessage(LOG_VERBOSE, "TalCi.dll found\n");
  logLibrarySearch(true);
  tal::os::sys().sleepMs(kInitPauseMs);
  const uint32_t status = library().initialize(arg);
  logCapture(true);
  if (status != 0) {
    logMessage(LOG_ALL, "Initialize the channel interface failed: %d\r\n",
               static_cast<int>(status));
  } else {
    logMessage(LOG_VERBOSE, "Initialize the channel interface success.\n");
  }
  return status;
}

uint32_t createChannel() {
  void *handle = nullptr;
  const uint32_t status = library().create(0, &handle, kPacketCount, kPacketSize, kPacketCount,
                                           kPacketSize, 0, nullptr);
  if (status != 0) {
    logMessage(LOG_ALL, "\nCIERROR: %s\r\n", statusText(status));
    return status;
  }
  logMessage(LOG_VERBOSE,
             "TalCiCreate() success.\n  %u send packets, packet size = %u\n  %u recv packets, "
             "packet size = %u\n",
             kPacketCount, kPacketSize, kPacketCount, kPacketSize);
  channelHandle() = handle;
  return 0;
}

void closeChannel() {
  if (channelHandle() == nullptr) return;
  const uint32_t status = library().close(channelHandle());
  logCapture(false);
  // The handle is spent either way: no exchange or second close goes to it.
  channelHandle() = nullptr;
  if (status != 0) {
    logMessage(LOG_VERBOSE, "channel interface close failed: %d\n", static_cast<int>(status));
  } else {
    logMessage(LOG_VERBOSE, "Connection to target channel closed.\n");
  }
}

uint32_t sendPacket(void *request) {
  if (request == nullptr) return CHANNEL_INVALID_ARG;
  const uint16_t length = getU16(request, 0);
  if (length < kPacketHeaderSize) return CHANNEL_INVALID_ARG;

  uint32_t status = 0;
  for (uint32_t attemptsLeft = kSendAttempts; attemptsLeft > 0; --attemptsLeft) {
    status = kStatusUnwritten;
    library().send(channelHandle(), request, length, &status, 0);
    if (status != CHANNEL_SEND_AGAIN) break;
    logMessage(LOG_VERBOSE, "%s, Re-try Send %d \n", statusText(CHANNEL_SEND_AGAIN),
               static_cast<int>(attemptsLeft));
    tal::os::sys().sleepMs(kSendPauseMs);
  }
  if (status == CHANNEL_OK) return CHANNEL_OK;
  logMessage(LOG_VERBOSE, "Send Command failed: %s\n", statusText(status));
  return status;
}

uint32_t exchangePacket(void *request, void *response, uint32_t capacity) {
  char summary[512];
  if (request != nullptr) {
    std::snprintf(summary, sizeof summary, "CMD:0x%02x LEN:0x%02x SEQ:%d\n", getU16(request, 4),
                  getU16(request, 0), getU16(request, 2));
  } else {
    summary[0] = '\0';
  }

  uint32_t status = sendPacket(request);
  if (status != CHANNEL_OK) return status;

  for (uint32_t receives = 0;;) {
    if (response == nullptr || capacity < kMinResponseSize) return CHANNEL_INVALID_ARG;

    uint32_t wait = kReceiveWait;
    status = kStatusUnwritten;
    uint32_t received = library().recv(channelHandle(), response, capacity, &status, &wait);
    // A library that claims more than the buffer holds is believed only up to the buffer.
    if (received > capacity) received = capacity;

    if (status == CHANNEL_OK) {
      const uint16_t length = getU16(response, 0);
      // Shorter than its own LEN, or too short to carry the error code, or a LEN that does not
      // cover the header and the error code (the bytes past it belong to no response, and an
      // error code read from there would pass a command that was never carried out): a runt.
      if (received < length || received < kMinResponseSize || length < kMinResponseSize) {
        logMessage(LOG_VERBOSE, "Recv: Runt packet (Header length = %d):(Return Length = %d)\n",
                   static_cast<int>(length), static_cast<int>(received));
        status = CHANNEL_RUNT;
      }
    }

    if (status != CHANNEL_OK) {
      logMessage(LOG_VERBOSE, "Received Command failed: %s\n", statusText(status));
      if (status != CHANNEL_NOTHING_YET) return status;
      logMessage(LOG_VERBOSE, "Retry %s", summary);
      logMessage(LOG_VERBOSE, "Retrying Recv: %d\n", static_cast<int>(receives));
    } else {
      // The library may have stamped its own sequence number into the request on the send.
      const uint16_t sent = getU16(request, 2);
      const uint16_t answered = getU16(response, 2);
      if (sent == answered) return CHANNEL_OK;
      logMessage(LOG_VERBOSE, "Out of sequence response (%04X/%04X)\n", sent, answered);
      logMessage(LOG_VERBOSE, "%s", summary);
    }

    if (++receives >= kReceives) return CHANNEL_RETRIES_USED_UP;
  }
}
