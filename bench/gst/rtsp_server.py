#!/usr/bin/env python3
"""The GStreamer peer of the RTSP benchmark: GStreamer's own RTSP server (gst-rtsp-server)
serving one MP4 clip (H.264 and AAC) at its own pace to every client, one shared pipeline
for all of them, over UDP or TCP as each client asks.

    rtsp_server.py CLIP

Speaks bench-cast's protocol with bench/runner: prints "listening PORT"; the clip starts
with the first client's PLAY (the server's own way; a "go" line is read and ignored);
"written" once the clip's end left the payloaders; exits on the next line or end of input.
"""

import sys
import threading

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

# Every bench client comes from 127.0.0.x: no limit of its own to lift here.
PIPELINE = ("( filesrc location={clip} ! qtdemux name=d "
            "d.video_0 ! queue ! h264parse ! rtph264pay name=pay0 pt=96 config-interval=-1 "
            "d.audio_0 ! queue ! aacparse ! rtpmp4gpay name=pay1 pt=97 )")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    Gst.init(None)
    loop = GLib.MainLoop()
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(PIPELINE.format(clip=sys.argv[1]))
    factory.set_shared(True)
    ended = threading.Event()

    def on_eos(_pad, info):
        if info.get_event().type == Gst.EventType.EOS and not ended.is_set():
            ended.set()
            print("written", flush=True)
        return Gst.PadProbeReturn.OK

    def on_configure(_factory, media):
        pay = media.get_element().get_by_name("pay0")
        pay.get_static_pad("src").add_probe(Gst.PadProbeType.EVENT_DOWNSTREAM, on_eos)

    factory.connect("media-configure", on_configure)
    server.get_mount_points().add_factory("/", factory)
    if server.attach(None) == 0:
        print("rtsp_server.py: cannot listen", file=sys.stderr)
        return 1
    print(f"listening {server.get_bound_port()}", flush=True)

    def read_lines():
        sys.stdin.readline()  # "go": the first PLAY starts the clip
        ended.wait()
        sys.stdin.readline()  # "done"
        GLib.idle_add(loop.quit)

    threading.Thread(target=read_lines, daemon=True).start()
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
