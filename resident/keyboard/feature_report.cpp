#include "feature_report.h"

void BuildFeatureReport(unsigned char command, unsigned char value,
                        unsigned char (&report)[FEATURE_REPORT_LENGTH]) {
  for (unsigned char& byte : report) byte = 0;
  report[1] = command;
  report[2] = value;
}
