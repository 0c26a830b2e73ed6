// The flash task for a device type: the one place that knows every family's procedure.
#include <memory>
#include <string>
#include <utility>

#include "flashtask.h"
#include "veltoe.h"
#include "veltoi.h"

std::unique_ptr<FlashTaskVelto> createFlashTask(int type, int engine, int address,
                                                std::string fwPath, int deviceIndex) {
  switch (type) {
    case DEVICE_VELTO_E:
      return std::make_unique<FlashTaskVeltoE>(engine, address, std::move(fwPath), deviceIndex,
                                               type);
    case DEVICE_VELTO_I:
      return std::make_unique<FlashTaskVeltoI>(engine, address, std::move(fwPath), deviceIndex,
                                               type);
    default:
      return nullptr;
  }
}
