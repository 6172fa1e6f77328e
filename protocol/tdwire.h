/* What travels on the device connection: frame layout, message types and
 * fixed texts. Shared by the session, the media path and the
 * reference device. */
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

/* RTP as it travels inside media messages (type 7), one packet each: a 12-byte fixed header
 * (version 2, no padding, extension or contributing sources), then an H.264
 * payload that is either one whole NAL unit or an FU-A fragment. The sender
 * and the device must agree on every value here. */
#define TD_RTP_HEADER_SIZE 12
#define TD_RTP_VERSION_BYTE 0x80   /* byte 0: version 2, nothing else */
#define TD_RTP_PAYLOAD_TYPE_H264 37
#define TD_RTP_MARKER 0x80         /* byte 1, bit 7: last packet of a picture */
#define TD_RTP_SEQ_OFFSET 2        /* 16-bit sequence number, big-endian */
#define TD_RTP_TIMESTAMP_OFFSET 4  /* 32-bit timestamp, always 0 */
#define TD_RTP_SSRC_OFFSET 8       /* 32-bit synchronisation source, always 0 */

/* H.264 NAL header: forbidden bit and nal_ref_idc in the top three bits,
 * the unit type in the low five. */
#define TD_NAL_NRI_MASK 0xE0
#define TD_NAL_TYPE_MASK 0x1F
#define TD_NAL_TYPE_IDR 5
#define TD_NAL_TYPE_SPS 7
#define TD_NAL_TYPE_PPS 8

/* FU-A: FU indicator (NRI of the unit | 28), FU header (start, end bits |
 * the unit's type), then at most TD_FU_A_MAX_PIECE body bytes. */
#define TD_NAL_TYPE_FU_A 28
#define TD_FU_A_HEADER_SIZE 2
#define TD_FU_START 0x80
#define TD_FU_END 0x40
#define TD_FU_A_MAX_PIECE 1298
#define TD_FU_A_MAX_PACKET (TD_RTP_HEADER_SIZE + TD_FU_A_HEADER_SIZE + TD_FU_A_MAX_PIECE) /* 1312 */

/* Largest RTP packet a media message carries. */
#define TD_RTP_MAX_PACKET 65536

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
