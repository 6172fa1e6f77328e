#include "device/resolution.h"

namespace device {

namespace {
constexpr Resolution kTable[kResolutionCount] = {
    {0, 128, 96},     {1, 176, 144},   {2, 352, 288},   {3, 704, 576},    {4, 1408, 1152},
    {5, 704, 480},    {6, 352, 240},   {7, 640, 480},   {8, 320, 240},    {9, 800, 600},
    {10, 400, 300},   {11, 1024, 768}, {12, 512, 384},  {13, 256, 192},   {14, 320, 480},
    {15, 352, 576},   {16, 352, 480},  {17, 1280, 1024}, {18, 1280, 720}, {19, 512, 288},
    {20, 672, 384},   {21, 768, 448},  {22, 848, 480},  {23, 1024, 576},  {24, 704, 240},
    {25, 704, 288},   {26, 640, 368},  {27, 432, 240},  {28, 1920, 1080}, {29, 320, 180},
    {30, 640, 360},   {31, 960, 540},  {32, 1440, 1080}, {33, 960, 720},  {34, 864, 480},
    {35, 480, 352},   {36, 736, 400},  {37, 448, 336},  {38, 448, 240},   {39, 212, 160},
    {40, 424, 240},   {41, 480, 270},  {42, 424, 320},  {43, 1920, 1072}, {44, 384, 216},
    {45, 1280, 720},
};
}  // namespace

bool resolutionSize(int code, int* width, int* height) {
  if (code < 0 || code >= kResolutionCount) {
    *width = *height = 0;
    return false;
  }
  *width = kTable[code].width;
  *height = kTable[code].height;
  return true;
}

int resolutionCode(int width, int height) {
  for (const Resolution& r : kTable)
    if (r.width == width && r.height == height) return r.code;
  return -1;
}

}  // namespace device
