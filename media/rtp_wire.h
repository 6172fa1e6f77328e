/* RTP as it travels inside media messages: a 12-byte fixed header
 * (version 2, no padding, extension or contributing sources), then an H.264
 * payload that is either one whole NAL unit or an FU-A fragment. The sender
 * and the device must agree on every value here. */
#ifndef TANDEO_RTP_WIRE_H
#define TANDEO_RTP_WIRE_H

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

#endif /* TANDEO_RTP_WIRE_H */
