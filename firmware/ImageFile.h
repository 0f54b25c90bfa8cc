#pragma once
// A firmware image file, read and checked before any board is touched: readable, at most 1 MiB,
// a valid Intel HEX image, and data that fit the chips of the table (application data present,
// nothing beyond the largest of them). What fits a particular chip is known only once it has
// been identified (CBootLoader checks it again then).
#include <string>

// The problem with the file, naming it ("KelvardUSB.hex: fits no board: ..."), or "" with its
// text in strText. An endless file is read only as far as the limit.
std::string ReadFirmwareImage(const std::string& strFile, std::string& strText);
