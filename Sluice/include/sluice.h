/*
 * libSluice: MPEG transport stream casting for the process that produces encoded frames.
 *
 * The library multiplexes H.264/H.265 video and AAC (or other) audio frames into an MPEG
 * transport stream and delivers it to the network. Open one caster per output, register
 * targets, hand it every encoded frame, close it again:
 *
 *     sluice_init();
 *     int handle = -1;
 *     sluice_media_format fmt = {0};
 *     fmt.video_codec = SLUICE_CODEC_H264; fmt.width = 1920; fmt.height = 1080;  // pts in us
 *     fmt.audio_codec = SLUICE_CODEC_AAC; fmt.channels = 2; fmt.sample_rate = 48000;
 *     fmt.audio_profile = 1;
 *     if (sluice_open(&handle, SLUICE_PROTOCOL_UDP, 0, &fmt) == 0 && handle >= 0) {
 *         sluice_add_target(handle, "239.1.1.1", 5000);
 *         ... sluice_write(handle, &packet) for every frame ...
 *         sluice_close(handle);
 *     }
 *     sluice_quit();
 *
 * Protocols of sluice_open:
 *   1  UDP: every transport stream block (at most 1316 bytes, seven 188-byte TS packets) is
 *      one datagram to every target; `port` is the local port to bind (0 = any).
 *   3  RTP (RFC 3550, payload type 33, MP2T): the same blocks behind a 12-byte RTP header,
 *      sequence starting at 0, timestamps at 90 kHz starting at 3600, SSRC 16.
 *   2  raw TCP: listens on `port` (every interface; 0 = an ephemeral port,
 *      see sluice_get_local_port) and sends the bare transport stream to
 *      every client that connects, from the next block on. Targets are kept but not used.
 *   4  HTTP: listens like TCP; a client that has sent any complete HTTP message gets
 *      "HTTP/1.1 200 OK" (Content-Type: video/MP2T, Transfer-Encoding: chunked), then one
 *      chunk per block. The body has no end: it stops when the connection closes. What the
 *      client sends after that first message is discarded unread (no second header).
 *   5  SRT (live mode, libsrt): every block is one SRT message. With `port` > 0 the caster
      listens on every IPv4 address for SRT callers, each of which gets the stream from the
      next block on; with `port` 0 it does not listen (the option "listen" opens a listener
      later, also on an ephemeral port). Every target (sluice_add_target) is
      an SRT listener the caster calls, and calls again with back-off (0.25 s doubling to
      8 s; 0.25 s again after a link that was up) whenever the link drops or cannot be
      made, until sluice_remove_target. A caster may listen and call at once. The
      listener takes at most 32 callers, 8 from one address; one beyond is refused in the
      handshake (reject reason 1402, SRT_REJX_OVERLOAD). Options (latency, encryption,
      stream ID, bandwidth, caller limits): sluice_set_option. Each peer has its own
      queue of 1024 blocks; a peer that cannot keep up loses its oldest blocks (counted in
      `dropped`) and delays neither the writer nor any other peer.
      sluice_remove_all_target ends every target and disconnects every caller; the
      listener stays open.
   6  RTSP (RFC 2326): an RTSP server on `port` (every interface) serves the stream to
      players and recorders that pull it, as RTP (H.264 RFC 6184, H.265 RFC 7798, AAC RFC
      3640 mpeg4-generic AAC-hbr; other codecs are not offered) over UDP unicast, UDP
      multicast (option "multicast") or interleaved on the RTSP connection (RTP/AVP/TCP).
      The stream is at rtsp://HOST:PORT/ until the option "path" moves it; casters opened
      on the same port share one server under different paths (the main and the sub stream
      on 554: "/main", "/sub"). Each frame is packetized once for all sessions; parameter
      sets go in band before every key picture and in the SDP. A session ends with
      TEARDOWN, with its RTSP connection, or
      after the session timeout without RTSP requests or RTCP. Every session gets an RTCP
      sender report every 5 s. Limits: 64 sessions per stream (option), 16 connections per
      client address, requests of at most 8 KiB complete within 10 s. A TCP client that
      falls more than 1,024,000 bytes behind loses whole frames until it is down to 256,000
      (counted in `dropped` and `jam_episodes`). A caster opened while another of the port
      serves "/" is served only once "path" is set. sluice_open returns 19 when the format
      has no stream RTSP can carry.
   7  RTMP push: FLV (H.264 + AAC) to one RTMP or RTMPS server, the URL set by the option
      "url" (`port` is not used; nothing is sent before it is set). A thread of its own
      connects, publishes and, when the server refuses, closes or disappears, connects
      again after 1 s, doubling up to 30 s (1 s again after a connection that published).
      Every connection starts with the sequence headers and a key frame (with the audio of
      at most 1 s just ahead of it); timestamps run on across connections (milliseconds
      from the first frame). Frames wait in a queue of at
      most 1500 frames or 16 MiB; when it is full the oldest go first, up to the next key
      frame (counted in `frames_dropped`). One destination record: state CONNECTING,
      PUBLISHING or RETRYING (state_text: the last error), connects, reconnects, bytes,
      frames, last_success_us; the address is the URL without user information, which is
      never logged nor shown. H.265 cannot travel in FLV: such a caster is FAILED with
      state_text "RTMP needs H.264" and refuses its frames. Audio other than AAC is not
      sent. Targets are refused (13).
   8  HLS: an HTTP server on `port` serves the stream at http://HOST:PORT/NAME.m3u8 (NAME
      "live" until the option "path" sets it) as MPEG-TS segments made by the same
      multiplexer as the other casters, each starting at a key frame and lasting at least
      1 s (option "segment_ms"): one GOP per segment for GOPs of 1 s or more, whole GOPs
      of at least 1 s for shorter ones. The playlist holds the last 6 segments (option
      "window") with #EXT-X-PROGRAM-DATE-TIME; only those and the one being written are
      kept, in memory. Playlists are sent with "Cache-Control: no-cache", segments with
      "max-age=60", every answer with "Access-Control-Allow-Origin: *"; other paths get
      404. One destination record: requests, playlist and segment bytes, clients seen in
      the last 30 s.
   9  HTTP-FLV: the same kind of server serves http://HOST:PORT/NAME.flv: the FLV header,
      metadata and the H.264/AAC sequence headers, then the tags from the next key frame.
      Flow control, client limits (256, 16 per address; options "maxclients" and
      "maxperaddress" for the port) and the 10 s request time-out as for TCP and HTTP.
      A stream with H.265 video opens but is not served: its output status is
      SLUICE_STATE_FAILED, "HTTP-FLV needs H.264". One destination record per client.
      HLS and HTTP-FLV casters of any stream opened on the same port share one server,
      told apart by path (the same path twice on a port: 17 from sluice_set_option; a
      caster opened while its default path is taken is served once "path" is set). A port
      that cannot be listened on (taken by the web server or another listener) makes
      sluice_open return 2, with the reason in the log.
   any other value: UDP.
 *   A TCP or HTTP client that falls more than 1,024,000 bytes behind loses whole blocks
 *   until it has caught up to 256,000 bytes. sluice_remove_all_target disconnects every
 *   client; sluice_close (and the last release by sluice_quit) disconnects them too.
 *
 * Threads: call sluice_init once before anything else and sluice_quit once at the end.
 * In between, every function may be called from any thread, also concurrently for the same
 * handle; each caster serialises its own operations. sluice_write multiplexes on the calling
 * thread and never waits for the network: a UDP or RTP caster queues each block once and its
 * own thread sends it to every target, paced (at most four datagrams back to back per
 * target), the queue bounded (the oldest datagrams are dropped, and logged, if the network
 * cannot take the rate); sluice_close sends what is still queued. A TCP or HTTP caster runs
 * one thread that accepts and serves its clients (at most 256 at a time and 16 from one
 * address, see sluice_set_option; a client beyond is closed at once; an HTTP client has 10 s
 * to complete its request). An SRT caster runs one thread that accepts callers, calls
 * its targets and hands every peer's queue to libsrt (which runs threads of its own).
 *
 * Ownership: the library copies what it keeps (configuration blocks, addresses); frame
 * bytes are used only during the call. Handles belong to the caller until sluice_close.
 *
 * Results are Linux errno numbers:
 *   0   success
 *   2   ENOENT  the handle names no open caster; from sluice_open: a TCP, HTTP or SRT
 *               caster cannot listen on the port (in use, or a bad address)
 *   13  EACCES  the caster refused the target (already a target of this caster)
 *   19  ENODEV  the UDP/RTP caster could not open (socket not created or bound, or no
 *               usable stream)
 *   22  EINVAL  a required pointer is null or a required text is empty; sluice_set_option:
 *               an unknown option, a bad value, or a caster without options
 *   <0          an FFmpeg error code from writing the transport stream header (sluice_open)
 *   12  ENOMEM  out of memory (no other failure is reported this way)
 *   17  EEXIST  sluice_set_option: the RTSP path is already served on the port
 *   1   EPERM   sluice_set_option: the system refuses the real-time "priority"
 *
 * Logging: sluice_init reads "SluiceLog.ini" in the current directory; without that file
 * the library logs nothing. libsrt's own messages go through the same sinks ("libsrt: ...",
 * libsrt's level set from the lowest Level of the sinks when an SRT caster opens), never to
 * standard error. Trouble that repeats (unparsable requests, a jammed client's lost blocks,
 * refused clients) is logged when it starts and, with its count, when it ends. Example:
 *     [Console]
 *     Enabled=true
 *     Level=debug
 *     Format=datetime
 *     [File]
 *     Enabled=true
 *     Level=warning
 *     Format=time
 *     FileName=log/sluice.log
 *     MaxSize=10
 *     RollCount=2
 */
#ifndef SLUICE_H
#define SLUICE_H

#include <stdint.h>

#if defined(_WIN32)
#define SLUICE_API
#else
#define SLUICE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Codec identifiers (libavcodec 57 numbering, kept stable across FFmpeg versions). */
#define SLUICE_CODEC_NONE 0
#define SLUICE_CODEC_H264 28
#define SLUICE_CODEC_H265 174
#define SLUICE_CODEC_AAC 86018

/* Protocols of sluice_open. */
#define SLUICE_PROTOCOL_UDP 1
#define SLUICE_PROTOCOL_TCP 2
#define SLUICE_PROTOCOL_RTP 3
#define SLUICE_PROTOCOL_HTTP 4
#define SLUICE_PROTOCOL_SRT 5
#define SLUICE_PROTOCOL_RTSP 6
#define SLUICE_PROTOCOL_RTMP 7
#define SLUICE_PROTOCOL_HLS 8
#define SLUICE_PROTOCOL_FLV 9

/* Frame types and flags of sluice_media_packet. */
#define SLUICE_PACKET_VIDEO 0
#define SLUICE_PACKET_AUDIO 1
#define SLUICE_FLAG_KEY 1

/* Stream description given to sluice_open. With 4-byte pointers: 68 bytes. */
typedef struct sluice_media_format {
    int32_t video_codec;   /* 28 H.264, 174 H.265, 0 no video */
    int32_t width;         /* pixels; 0 or less declares 1920 x 1080 */
    int32_t height;        /* pixels */
    int32_t video_param;   /* kept with the configuration, not used */
    int32_t video_profile; /* codec profile number, declared on the video stream */
    int32_t video_clock;   /* ticks per second of video pts; 0 or less = 1000000 (microseconds) */
    int32_t audio_codec;   /* 86018 AAC, 0 no audio; other FFmpeg audio ids pass through */
    int32_t channels;      /* audio channel count */
    int32_t sample_rate;   /* Hz */
    int32_t audio_profile; /* AAC object type minus one (1 = AAC LC), for ADTS headers */
    int32_t audio_clock;   /* ticks per second of audio pts; 0 or less = sample_rate */
    int32_t video_config_size;
    const uint8_t* video_config; /* parameter sets, or NULL; copied when size >= 1 */
    int32_t audio_config_size;
    const uint8_t* audio_config; /* AudioSpecificConfig, or NULL; copied when size >= 1 */
    int32_t format_param15;      /* kept with the configuration, not used */
    int32_t format_param16;      /* kept with the configuration, not used */
} sluice_media_format;

/* One encoded frame given to sluice_write. With 4-byte pointers: 32 bytes.
 * Video: one access unit in Annex B form (start-code prefixed NAL units); parameter sets
 * and SEI sent as frames of their own are joined to the next picture. Audio: one AAC frame
 * with or without ADTS header (the library adds it), or one frame of another codec. */
typedef struct sluice_media_packet {
    int32_t type;        /* 0 video, 1 audio */
    const uint8_t* data; /* frame bytes; must not be NULL; read only during the call */
    int32_t size;        /* bytes in data */
    int32_t reserved;    /* padding that keeps pts at offset 16 on every 32-bit ABI; set 0 */
    int64_t pts;         /* presentation time in video_clock or audio_clock ticks */
    int32_t duration;    /* carried along, not used for multiplexing */
    int32_t flags;       /* bit 0 key frame (video key frames are also detected) */
} sluice_media_packet;

/* Initialises the library: logging from "SluiceLog.ini", SIGPIPE ignored (unless the
 * process has its own handler), FFmpeg and the event library's thread support. Returns 0. */
SLUICE_API int sluice_init(void);

/* Releases every caster (each one closes when the last call still using it returns) and
 * undoes the SIGPIPE setting. Returns 0; sluice_init may be called again afterwards. */
SLUICE_API int sluice_quit(void);

/* Opens a caster and writes its handle (0-63) to *handle. Returns 0, 22 (handle or format
 * NULL), 2 (TCP/HTTP/SRT: the port cannot be listened on), 19 (UDP/RTP: socket not created or
 * bound, or no usable stream) or a negative FFmpeg code. When all 64 handles are in use it
 * returns 0 with *handle -1 and the caster is discarded. `port` is the local port (16 bits);
 * a TCP/HTTP caster whose streams cannot be multiplexed still opens, and sends nothing. */
SLUICE_API int sluice_open(int* handle, int protocol, int port, const sluice_media_format* format);

/* Closes the caster and frees its handle at once; a write running on another thread
 * finishes first. Returns 0, or 2 for a handle that names no caster (ignored). */
SLUICE_API int sluice_close(int handle);

/* Adds a unicast or multicast destination ("10.0.0.5", "239.1.1.1", or a host name).
 * UDP and RTP: a host name is resolved once, by this call (which waits for the name server;
 * sluice_write never does); a name that does not resolve stays a target that gets nothing
 * (logged). Adding or removing a target costs the same however many there are.
 * Returns 0, 22 (ip NULL or empty), 2 (unknown handle) or 13 (already a target). */
SLUICE_API int sluice_add_target(int handle, const char* ip, int port);

/* Removes a destination. Returns 0 (also when it was not a target), 22 or 2. */
SLUICE_API int sluice_remove_target(int handle, const char* ip, int port);

/* Removes every destination. Returns 0 or 2. */
SLUICE_API int sluice_remove_all_target(int handle);

/* Multiplexes one frame and hands the resulting blocks on for sending. Returns 0, 22 (packet
 * or its data NULL) or 2 (unknown handle). Timestamp and network trouble is logged, never
 * reported. */
SLUICE_API int sluice_write(int handle, const sluice_media_packet* packet);

/* Sets one option of a caster, as text (decimal numbers without spaces).
 * Every transport-stream caster (UDP, RTP, TCP, HTTP, SRT):
 *   "muxrate"       bits per second of a constant-rate stream, 64000..2000000000; 0 (the
 *                   default) = variable, the stream as before. Null packets (PID 0x1FFF) fill
 *                   the stream to the rate, PCRs follow its byte clock (at most 20 ms apart),
 *                   PAT/PMT at most 50 ms apart; each frame gets 500 ms of buffer. A frame
 *                   that cannot leave by its decoding time (an encoder above the rate) is not
 *                   sent: it counts in `overruns` (destination records and output status),
 *                   video resumes at the next key frame, each episode is logged once, and the
 *                   stream stays valid. UDP, RTP and SRT send each datagram (SRT: message)
 *                   when its bytes are due (100 ms after the first), at most four back to
 *                   back per target. Set it
 *                   right after sluice_open: a change restarts the stream's multiplexer.
 * UDP and RTP casters:
 *   "gather_us"     0..50000: with "muxrate" set, datagrams due within this many
 *                   microseconds of the first one due leave with it, at most four per
 *                   target, as one message the system cuts (UDP segmentation offload): one
 *                   pass through the network stack for several datagrams, about a third
 *                   less CPU at 3500 for a 9 Mbit/s stream to 64 targets. A receiver sees
 *                   them back to back and its delay factor grows by up to that time. 0 (the
 *                   default) = each datagram when it is due.
 *   "priority"      0..99: the real-time priority (SCHED_FIFO) of the caster's sending
 *                   thread; 0 (the default) = the normal scheduler. With "muxrate" set it
 *                   keeps the datagrams on time while other threads keep the processor busy
 *                   (the thread sleeps between datagrams and cannot take more than the
 *                   sends themselves). Needs CAP_SYS_NICE or an RLIMIT_RTPRIO at least that
 *                   high: otherwise 1 (EPERM) and the thread keeps its scheduling.
 * TCP and HTTP casters, for the clients that connect afterwards:
 *   "maxclients"    clients at a time, 1..1024; default 256.
 *   "maxperaddress" clients one IPv4 address may hold, 1..1024; default 16.
 * SRT casters:
 *   "latency"     receiver delay in milliseconds, 20..8000; default 120. Each side may ask
 *                 for more; the larger one is used (the negotiated latency in the stats).
 *   "passphrase"  10..79 characters: AES encryption with a key derived from it; "" (the
 *                 default) clears it. A peer with another or no passphrase is refused.
 *                 Never logged.
 *   "pbkeylen"    0, 16, 24 or 32: AES key length in bytes when a passphrase is set; 0 (the
 *                 default) = 16, AES-128.
 *   "streamid"    up to 512 characters, sent by the caster's calls to its targets (SRT's
 *                 stream ID); "" (the default) sends none. Callers of the caster's listener
 *                 are accepted whatever stream ID they send.
 *   "maxbw"       bytes per second the caster may send to one peer, retransmissions included.
 *                 Not set (the default): 25000000 (200 Mbit/s) for a variable stream, far
 *                 above its rate yet a fifth of a gigabit link's: a key frame,
 *                 retransmissions and a peer catching up leave spread out, at little CPU
 *                 cost; with "muxrate" set, 25 % above the mux rate. 0 = libsrt measures
 *                 the stream's rate and allows 25 % above it (with "muxrate" set: above the
 *                 mux rate; pacing so close to the stream's rate costs noticeably more CPU
 *                 per peer); -1 = unlimited (libsrt's own ceiling, 1 Gbit/s); > 0 that rate.
 *   "maxclients"  callers of the listener at a time, 1..256; default 32 (each costs libsrt
 *                 about a megabyte of buffers). Callers already in stay.
 *   "maxperaddress" callers one IPv4 address may hold, 1..256; default 8.
 * Options apply to every connection made after the call: later callers of the listener, and
 * the targets' next (re)connections. Links already up: a change of "passphrase" or "pbkeylen"
 * ends every link at once (targets reconnect with the new secret; callers of the listener
 * must call again); a change of "maxbw" applies to them at once; "latency" and "streamid"
 * leave them as they are. Set options before adding targets; the listener is open from
 * sluice_open on, so a caster that must be encrypted from its first caller has its
 * passphrase set right after sluice_open (a caller accepted before is ended by that change).
 *   "listen"      a port, 0..65535: the caster listens there for SRT callers from now on,
 *                 0 = an ephemeral port (sluice_get_local_port tells which). It restarts the
 *                 caster's sending: every link ends and the targets reconnect. A port that
 *                 cannot be listened on gives 22 and leaves the caster without listener.
 * Returns 0; 22 for a NULL name or value, an unknown name, a bad value, or a caster without
 * that option (UDP and RTP have only "muxrate", "gather_us" and "priority"; nothing changes
 * then); 2 for an unknown handle; 1 when the system refuses a "priority". */
/* Options of an RTSP caster (same rules for text and results; they apply from the next
 * request on):
 *   "path"            "/..." (at most 255 characters): where the stream is served; 17
 *                     (EEXIST) when another caster of the port serves that path (nothing
 *                     changes then). Sessions already playing go on.
 *   "auth_file"       a password file in the web server's format (lines "user:realm:HA1",
 *                     HA1 = MD5 of "user:realm:password" in hex): every request but OPTIONS
 *                     then needs digest authentication with that realm, with qop=auth or
 *                     without qop (RFC 2069 style). A nonce is valid only on the connection
 *                     it was issued on, for 60 s; with qop the nonce count must rise. The
 *                     file is read again at every request; "" turns authentication off.
 *                     Credentials are never logged.
 *   "max_sessions"    1..1024, default 64: further SETUPs get "453 Not Enough Bandwidth".
 *   "session_timeout" seconds, 1..3600, default 60 (announced as timeout= in the Session
 *                     header). Connections without a session close after the same time.
 *   "udp_ports"       "first-last" within 1024..65535: the server ports UDP sessions bind
 *                     (an RTP/RTCP pair each) for the whole server of the port; default
 *                     6970-7993. A SETUP finding no free pair gets 453.
 *   "multicast"       "GROUP:PORT" (an IPv4 multicast group, an even port 1024..65532):
 *                     clients may then ask for RTP/AVP;multicast and are all served by one
 *                     sender per stream (video on PORT, audio on PORT+2, RTCP on the odd
 *                     ports), which sends while any of them plays; "" (the default) offers
 *                     no multicast (461).
 *   "multicast_ttl"   1..255, default 16: the multicast datagrams' time to live.
 * Options of an RTMP caster (each one restarts the push with a new connection):
 *   "url"        "rtmp://[user:password@]host[:port]/app/stream" or "rtmps://...": where to
 *                push; user and password are answered to servers that ask for them (Adobe
 *                or Limelight authentication, FFmpeg's RTMP client). "" stops pushing.
 *   "ca_file"    rtmps://: a PEM file of the CA certificates to trust instead of the system's
 *                store; "" (the default) uses the store.
 *   "tls_verify" rtmps://: "1" (the default) checks the server's certificate and name; "0"
 *                accepts any server (logged as a warning).
 * Options of HLS and HTTP-FLV casters:
 *   "path"            the name served ("sub", "/sub" or "/live/sub.m3u8" give /sub.m3u8
 *                     or /sub.flv): letters, digits, "-", "_", "." and "/"; 17 when taken.
 *   "window"          HLS: segments in the playlist, 2..30, default 6.
 *   "segment_ms"      HLS: shortest segment, 500..10000 ms, default 1000.
 *   "maxclients", "maxperaddress"  1..1024: client limits of the whole port. */
SLUICE_API int sluice_set_option(int handle, const char* name, const char* value);

/* Writes the caster's local port to *port: the port a TCP, HTTP, RTSP or SRT caster listens
 * on (0 for an SRT caster without listener), or the one a UDP or RTP caster's socket is bound
 * to. After sluice_open with port 0 it tells which port the system chose, so that a caller
 * never has to guess a free one:
 *     sluice_open(&handle, SLUICE_PROTOCOL_HTTP, 0, &fmt);
 *     sluice_get_local_port(handle, &port);   clients connect to port
 * Returns 0, 22 (port NULL) or 2 (unknown handle). */
SLUICE_API int sluice_get_local_port(int handle, int* port);

/* Library-wide settings; set them before opening casters. */
SLUICE_API void sluice_setQueueDuration(int value); /* stored, not used; default 3000 */
SLUICE_API void sluice_setSendBufSize(int bytes);   /* SO_SNDBUF of UDP casters and of TCP/
                                                       HTTP clients accepted afterwards;
                                                       > 0 only; default 2097152 */
SLUICE_API void sluice_set_stack_size(int bytes);   /* worker thread stack; >= 0 only;
                                                       default 0 (system default) */

/* What one destination of a caster has been given: a target of a UDP, RTP or SRT caster,
 * a client connected to a TCP, HTTP or SRT caster, or a session of an RTSP caster (address
 * and port: the client's address and RTP port for UDP, its RTSP connection's port for TCP;
 * datagrams: RTP packets sent; connected_since_us: the SETUP). Every count starts when the
 * destination was added or connected (an SRT target's counts run on across reconnections).
 * The record grows at its end in later versions: `size` tells how many bytes of it the
 * caller's record has and the library has filled (see below). 384 bytes; the first 168 are
 * the record of the first version, the first 176 that of the second and the first 200 that
 * of the third, whose callers keep working unchanged.
 *
 * SRT: datagrams/bytes count messages handed to libsrt; `dropped` counts blocks lost in the
 * peer's own queue (full, or the link ended) plus those libsrt dropped as too late;
 * `backlog_bytes` is the peer's queue plus what libsrt has not yet had acknowledged;
 * `send_errors` counts links that broke while sending (`last_errno` ECONNRESET). A target
 * that is not connected has connected_since_us 0 and transport_valid 0. */
typedef struct sluice_destination_stats {
    uint32_t size;                  /* caller: sizeof its record; library: bytes filled */
    int32_t protocol;               /* SLUICE_PROTOCOL_* of the caster */
    char address[64];               /* the target as added (address or host name), or the
                                       client's dotted address; NUL-terminated, truncated */
    int32_t port;                   /* target port, or the client's port */
    int32_t last_errno;             /* errno of the last failed send; 0 when none failed */
    int64_t connected_since_us;     /* TCP/HTTP: wall-clock time of the connection in
                                       microseconds since 1970; 0 for UDP/RTP */
    uint64_t datagrams;             /* datagrams (UDP/RTP) or blocks (TCP/HTTP) handed to the
                                       system */
    uint64_t bytes;                 /* their bytes, RTP headers and HTTP chunk lines included */
    uint64_t send_errors;           /* failed or short sends (UDP/RTP), connection errors */
    uint64_t dropped;               /* datagrams or blocks this destination never got: send
                                       queue overflow (UDP/RTP), jam (TCP/HTTP) */
    uint64_t jam_episodes;          /* TCP/HTTP: times the client fell too far behind */
    uint64_t backlog_bytes;         /* queued for it, not yet handed to the system */
    uint32_t transport_valid;       /* SLUICE_STATS_HAS_* bits: which fields below are set */
    int32_t rtt_us;                 /* round-trip time, for transports that measure it */
    uint64_t lost_packets;          /* packets the receiver reported lost */
    uint64_t retransmitted_packets; /* packets sent again */
    int32_t latency_ms;             /* latency the transport negotiated */
    int32_t reserved;               /* 0 */
    /* 168: the fields below were added with SRT. */
    uint64_t send_rate_bps; /* the transport's current send rate, bits per second */
    /* 176: the fields below were added with RTSP (0 for other protocols). */
    int32_t rtsp_transport;    /* SLUICE_RTSP_TRANSPORT_* of the session (multicast:
                                  the stream sender's counts, the group's port) */
    int32_t rtcp_port;         /* UDP: the client's RTCP port; TCP: 0 */
    uint64_t receiver_reports; /* RTCP receiver reports the client sent */
    int32_t jitter_us;         /* interarrival jitter of its latest report (valid with
                                  SLUICE_STATS_HAS_JITTER), microseconds */
    int32_t reserved2;         /* 0 */
    /* 200: the fields below were added with RTMP, HLS and HTTP-FLV (0 where a protocol
       does not track them). */
    int32_t state;           /* SLUICE_STATE_* of this destination (an RTMP push) */
    int32_t reserved3;       /* 0 */
    uint64_t connects;       /* connections made (RTMP) */
    uint64_t reconnects;     /* connections made again after one was lost or refused */
    uint64_t frames;         /* whole frames sent */
    uint64_t frames_dropped; /* whole frames never sent (queue overflow) */
    int64_t last_success_us; /* wall-clock time of the last successful publish, in
                                microseconds since 1970; 0 if none */
    uint64_t requests;       /* HLS: requests served */
    uint64_t clients_seen;   /* HLS: distinct client addresses in the last 30 s */
    uint64_t playlist_bytes; /* HLS: playlist bytes served */
    uint64_t segment_bytes;  /* HLS: segment bytes served */
    uint64_t overruns;       /* frames the constant-rate multiplexer could not fit */
    char state_text[96];     /* the last error or the reason of the state, for people;
                                NUL-terminated, empty when there is none */
} sluice_destination_stats;

/* States of a destination (state above) and of a whole output (sluice_output_status):
 * OFF       not open;
 * SERVING   listening for clients, or sending to its targets;
 * CONNECTING, PUBLISHING  a push connecting, or connected and sending;
 * RETRYING  a push lost or was refused its connection and waits to try again (state_text
 *           says why);
 * FAILED    cannot work until reconfigured: a port that is taken, a codec the protocol cannot
 *           carry (state_text says why). */
#define SLUICE_STATE_OFF 0
#define SLUICE_STATE_SERVING 1
#define SLUICE_STATE_CONNECTING 2
#define SLUICE_STATE_PUBLISHING 3
#define SLUICE_STATE_RETRYING 4
#define SLUICE_STATE_FAILED 5

/* rtsp_transport: RTP over UDP to the client's ports, interleaved on its RTSP connection, or
 * to the stream's multicast group. */
#define SLUICE_RTSP_TRANSPORT_UDP 1
#define SLUICE_RTSP_TRANSPORT_TCP 2
#define SLUICE_RTSP_TRANSPORT_MULTICAST 3

/* Bits of transport_valid. SRT peers that are connected set the first five; an RTSP session
 * sets LOST and JITTER once its client has sent a receiver report; UDP, RTP, TCP and HTTP
 * destinations set none. */
#define SLUICE_STATS_HAS_RTT 1
#define SLUICE_STATS_HAS_LOST 2
#define SLUICE_STATS_HAS_RETRANSMITTED 4
#define SLUICE_STATS_HAS_LATENCY 8
#define SLUICE_STATS_HAS_SEND_RATE 16
#define SLUICE_STATS_HAS_JITTER 32

/* Fills records[0 .. capacity-1] with the caster's destinations (targets in the order they
 * were added; clients in descriptor order) and writes their total number to *count, which
 * may exceed capacity (only capacity records are filled then). The caller owns the array and
 * sets records[0].size to sizeof(sluice_destination_stats) as it knows it: that size is the
 * stride of the array, the library fills at most that many bytes of each record (zeroing
 * what it does not know) and sets each record's size to the bytes it filled. A snapshot:
 * safe from any thread, concurrently with every other function; nothing points into the
 * library afterwards. Returns 0, 22 (count NULL, records NULL with capacity > 0, capacity
 * < 0, or records[0].size below 80, the fields up to port and last_errno) or 2 (unknown handle). */
SLUICE_API int sluice_get_destination_stats(int handle, sluice_destination_stats* records,
                                            int capacity, int* count);

/* The health of a whole output (one handle), for status pages and metrics: its state and
 * the reason of the state, the port it serves on, how many destinations it has, and the
 * frames it took and could not fit. The record grows at its end like the one above: the
 * caller sets size to sizeof(sluice_output_status) as it knows it (at least 16), the library
 * fills at most that many bytes, zeroes what it does not know and sets size to the bytes it
 * filled. Safe from any thread. Returns 0, 22 (status NULL or size below 16) or 2 (unknown
 * handle). */
typedef struct sluice_output_status {
    uint32_t size;        /* caller: sizeof its record; library: bytes filled */
    int32_t protocol;     /* SLUICE_PROTOCOL_* */
    int32_t state;        /* SLUICE_STATE_* */
    int32_t last_errno;   /* errno of the state's cause; 0 when none */
    int32_t local_port;   /* the port it listens on; 0 when it does not */
    int32_t destinations; /* targets, clients or sessions now */
    uint64_t frames_in;   /* frames the output took from sluice_write */
    uint64_t overruns;    /* frames the constant-rate multiplexer could not fit */
    char state_text[128]; /* the reason of the state, for people; NUL-terminated */
} sluice_output_status;

SLUICE_API int sluice_get_output_status(int handle, sluice_output_status* status);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The appliance's 32-bit ABI (4-byte pointers) has these exact layouts. */
#if defined(UINTPTR_MAX) && UINTPTR_MAX == 0xFFFFFFFFu
#if defined(__cplusplus)
#define SLUICE_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define SLUICE_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
#ifdef SLUICE_STATIC_ASSERT
SLUICE_STATIC_ASSERT(sizeof(sluice_media_format) == 68, "sluice_media_format is 68 bytes");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_media_format, video_config) == 48,
                     "video_config at 48");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_media_format, audio_config) == 56,
                     "audio_config at 56");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_media_format, format_param16) == 64,
                     "format_param16 at 64");
SLUICE_STATIC_ASSERT(sizeof(sluice_media_packet) == 32, "sluice_media_packet is 32 bytes");
SLUICE_STATIC_ASSERT(sizeof(sluice_destination_stats) == 384, "sluice_destination_stats is 384");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_destination_stats, state) == 200, "state at 200");
SLUICE_STATIC_ASSERT(sizeof(sluice_output_status) == 168, "sluice_output_status is 168");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_destination_stats, rtsp_transport) == 176,
                     "rtsp_transport at 176");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_destination_stats, send_rate_bps) == 168,
                     "send_rate_bps at 168");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_media_packet, data) == 4, "data at 4");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_media_packet, size) == 8, "size at 8");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_media_packet, pts) == 16, "pts at 16");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_media_packet, duration) == 24, "duration at 24");
SLUICE_STATIC_ASSERT(__builtin_offsetof(sluice_media_packet, flags) == 28, "flags at 28");
#undef SLUICE_STATIC_ASSERT
#endif
#endif

#endif /* SLUICE_H */
