#include "feature_report.h"

void BuildFeatureReport(unsigned char command, unsigned char value,
                        unsigned char (&report)[FEATURE_REPORT_LENGTH]) {
  for (unsigned char& byte : report) byte = 0;
  report[1] = command;
  report[2] = value;
}

void RecordOtherDevice(FeatureSendRecord* record, std::uint16_t vendorId, std::uint16_t productId) {
  for (unsigned i = 0; i < record->OtherDevices; ++i) {
    OtherDevice& device = record->Others[i];
    if (device.VendorId == vendorId && device.ProductId == productId) {
      ++device.Interfaces;
      return;
    }
  }
  if (record->OtherDevices == RECORDED_OTHER_DEVICES) {
    ++record->UnlistedInterfaces;
    return;
  }
  record->Others[record->OtherDevices++] = OtherDevice{vendorId, productId, 1};
}
