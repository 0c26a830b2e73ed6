// The base component with its protected fields open to the framework tests.
#pragma once

#include "basecomp.h"

class Probe : public CBaseComponent {
 public:
  using CBaseComponent::checkNotes;
  using CBaseComponent::dependencyChecked;
  using CBaseComponent::infFile;
  using CBaseComponent::infSection;
  using CBaseComponent::installType;
  using CBaseComponent::is64BitOS;
  using CBaseComponent::noOverwrite;
  using CBaseComponent::osMajor;
  using CBaseComponent::osMinor;
  using CBaseComponent::packageFileName;
  using CBaseComponent::presentDevices;
  using CBaseComponent::rebootRequired;
  using CBaseComponent::requiredDiskSpaceKb;
  using CBaseComponent::serviceName;
  using CBaseComponent::shellExecuteDir;
  using CBaseComponent::shellExecuteFile;
  using CBaseComponent::silent;
  using CBaseComponent::supportedDevices;
  using CBaseComponent::supportedOS;
  using CBaseComponent::supportedScsiIds;
  using CBaseComponent::systemModelSupported;
  using CBaseComponent::versionFilePath;
};
