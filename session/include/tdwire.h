/* What travels on the device connection: frame layout, message types and
 * fixed texts. Shared by the session and the reference device. */
#ifndef TANDEO_TDWIRE_H
#define TANDEO_TDWIRE_H

#include <stdint.h>

#define TD_DEVICE_PORT 5001

/* Frame: type and payload length, unsigned 32-bit big-endian, then payload. */
#define TD_FRAME_HEADER_SIZE 8
/* Largest payload a sender puts in one frame. */
#define TD_MAX_SEND_PAYLOAD 65536

#define TDMSG_PAIR_REJECTED 0
#define TDMSG_PAIR_SUCCEED_INDIC 1
#define TDMSG_PAIR_BANNER 2
#define TDMSG_PASSWORD_CHALLENGE 3
#define TDMSG_PASSWORD_DIGEST 4
#define TDMSG_START_ENCODING_REQ 5
#define TDMSG_START_ENCODING_ACK 6
#define TDMSG_MEDIA 7
#define TDMSG_KEEPALIVE 8
#define TDMSG_STOP_ENCODING_REQ 9
#define TDMSG_STOP_ENCODING_ACK 10
#define TDMSG_VFU_REQ 13
#define TDMSG_UPDATE_ENC_BITRATE_INDIC 15
#define TDMSG_PAIR_REJECTED_1 16
#define TDMSG_PAIR_REJECTED_2 17
#define TDMSG_PAIR_REJECTED_3 18

#define TD_PAIR_BANNER "Tandeo V1.0"
#define TD_CHALLENGE_SIZE 16
#define TD_DIGEST_SIZE 16
#define TD_PASSWORD_SIZE 64

/* Encoding parameter record (payload of type 6): 28 words, 112 bytes. */
#define TD_ENC_PARAMS_WIRE_WORDS 28
#define TD_ENC_PARAMS_WIRE_SIZE 112

static inline uint32_t td_get_be32(const unsigned char* p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

static inline void td_put_be32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

#endif /* TANDEO_TDWIRE_H */
