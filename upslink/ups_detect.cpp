// The device factory, apart from the base class's file: the base class does
// not need to know its derived kinds, only this file does.
#include "upslink/ups_device.h"
#include "upslink/xcp_ups_device.h"

UpsDevice* CreateUpsDevice(SerialLink& link, CINIFile& profile) {
    return new XcpUpsDevice(link, profile);
}

UpsDevice* DetectUps(SerialLink& link, CINIFile& profile) { return CreateUpsDevice(link, profile); }
