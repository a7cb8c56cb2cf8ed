// The build profile: the one product and configuration this program serves.
// The package derives its kit folder from the same names, so they are part of
// the contract with it and must not drift.
#ifndef SUPPORT_PROFILE_H
#define SUPPORT_PROFILE_H

#define PROFILE_KIND "pmx"
#define PROFILE_VERSION "4.2.0_17"
#define PROFILE_VERSION_MAJOR "4"
#define PROFILE_VERSION_MINOR "2"
#define PROFILE_VERSION_MICRO "0"
#define PROFILE_VERSION_UPDATE "17"
#define PROFILE_KIT_SUFFIX "_x64"

// "pmx4.2.0_17_x64" and "pmx4.2.0_17.msi"
#define PROFILE_KIT_FOLDER PROFILE_KIND PROFILE_VERSION PROFILE_KIT_SUFFIX
#define PROFILE_PACKAGE_FILE PROFILE_KIND PROFILE_VERSION ".msi"

// Resource keys of the embedded package.
#define PACKAGE_RESOURCE_ID 101
#define PACKAGE_RESOURCE_TYPE "ORVA_INSTALLER"

#endif
