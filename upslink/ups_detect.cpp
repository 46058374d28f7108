// The device factory, apart from the base class's file: the base class does
// not need to know its derived kinds, only this file does.
#include "upslink/ups_device.h"
#include "upslink/xcp_ups_device.h"

UpsDevice* CreateUpsDevice(SerialLink& link, const UpsIdentity& identity) {
    return new XcpUpsDevice(link, identity);
}

UpsDevice* DetectUps(SerialLink& link, const UpsIdentity& identity) {
    return CreateUpsDevice(link, identity);
}
