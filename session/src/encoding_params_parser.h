// The device's encoding parameter record (payload of type 6) and its limits.
#pragma once
#include <cstdint>

#include "media/encoding_params.h"

// Reads the 28 words of the record; words beyond the received bytes count
// as 0, and nothing past `length` is read.
EncodingParams ParseEncodingParams(const unsigned char* payload, std::uint32_t length);
