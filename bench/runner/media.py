"""The input clip: H.264 1280x720 at 30 fps and about 8 Mbit/s with 48 kHz stereo AAC, made
once with Debian's ffmpeg and kept in the media folder; shorter cuts and transport stream
copies (for the bare sender) are made from it on demand."""

import os

from .procs import run

FULL_SECONDS = 60

# Noise keeps x264 from compressing the test picture far below the target rate. No B-frames:
# a frame handed to libSluice carries one timestamp.
VBR_RATE = ["-b:v", "7800k", "-maxrate", "8M", "-bufsize", "4M"]
# The same pictures at a constant bit rate, as the device's encoders deliver them: HRD
# signalling with filler (nal-hrd=cbr) and a buffer of about one frame (8 Mbit/s / 30 fps),
# so every frame, key frames too, is about the same size.
CBR_RATE = ["-b:v", "8M", "-minrate", "8M", "-maxrate", "8M", "-bufsize", "300k",
            "-x264-params", "nal-hrd=cbr"]


def encode_args(rate):
    return [
        "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30,noise=alls=12:allf=t",
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
        "-map", "0:v", "-map", "1:a",
        "-c:v", "libx264", "-preset", "veryfast", "-bf", "0", "-g", "30",
    ] + rate + [
        "-pix_fmt", "yuv420p",
        "-c:a", "aac", "-b:a", "128k", "-ac", "2", "-movflags", "+faststart",
    ]


class Media:
    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self._durations = {}

    def _ffmpeg(self, args, out):
        tmp = out + ".part" + os.path.splitext(out)[1]
        run(["ffmpeg", "-nostdin", "-y", "-loglevel", "error"] + args + [tmp], timeout=1200)
        os.replace(tmp, out)

    def clip(self, seconds, cbr=False):
        """The clip cut to its first `seconds` (whole GOPs of 1 s); cbr: its constant bit
        rate variant."""
        name = "clip-cbr" if cbr else "clip"
        full = os.path.join(self.folder, f"{name}-{FULL_SECONDS}s.mp4")
        if not os.path.exists(full):
            rate = CBR_RATE if cbr else VBR_RATE
            self._ffmpeg(encode_args(rate) + ["-t", str(FULL_SECONDS)], full)
        if seconds >= FULL_SECONDS:
            return full
        cut = os.path.join(self.folder, f"{name}-{seconds}s.mp4")
        if not os.path.exists(cut):
            self._ffmpeg(["-i", full, "-t", str(seconds), "-map", "0", "-c", "copy",
                          "-movflags", "+faststart"], cut)
        return cut

    def transport_stream(self, seconds):
        """The same media as clip(seconds) in MPEG-TS, for the bare sender."""
        ts = os.path.join(self.folder, f"clip-{seconds}s.ts")
        if not os.path.exists(ts):
            self._ffmpeg(["-i", self.clip(seconds), "-map", "0", "-c", "copy", "-f", "mpegts"], ts)
        return ts

    def duration(self, path):
        if path not in self._durations:
            out = run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                       "-of", "default=nw=1:nk=1", path])
            self._durations[path] = float(out.strip())
        return self._durations[path]

    def frames(self, path):
        """Audio and video frames (packets) of a clip from its first picture on: a stream
        server starts each client at a key frame, so the audio before it is not sent."""
        out = run(["ffprobe", "-v", "error", "-show_entries", "packet=codec_type,pts_time",
                   "-of", "csv=p=0", path])
        packets = [line.split(",")[:2] for line in out.splitlines() if "," in line]
        first = min(float(t) for kind, t in packets if kind == "video")
        return sum(1 for kind, t in packets if kind == "video" or float(t) >= first)

    def describe(self):
        full = self.clip(FULL_SECONDS)
        out = run(["ffprobe", "-v", "error", "-show_entries",
                   "format=bit_rate:stream=codec_name,width,height,r_frame_rate,sample_rate,"
                   "channels", "-of", "json", full])
        return out
