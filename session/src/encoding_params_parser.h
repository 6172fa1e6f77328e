// The device's encoding parameter record (payload of type 6) and its limits.
#pragma once
#include <cstdint>

#include "media/encoding_params.h"

// Reads the 28 words of the record; words beyond the received bytes count
// as 0, and nothing past `length` is read.
EncodingParams ParseEncodingParams(const unsigned char* payload, std::uint32_t length);

// A received bit-rate word (bit/s) within the limits that the record's bit
// rate keeps: taken as signed, 16000 to 4096000.
std::int32_t LimitBitRate(std::uint32_t word);
