#!/usr/bin/env bash
# Regenerates test.rec: six seconds of colour bars and a 1 kHz tone as an MPEG-2 transport stream,
# behind a recorder header that describes a fictitious service. Needs ffmpeg and python3; the build and
# the tests never run this script, they use the committed test.rec.
set -euo pipefail
cd "$(dirname "$0")"

# The service and event the header describes. The stream's identifiers and PIDs are set to match.
CHANNEL_NAME="Harbour Light TV"
SERVICE_NUMBER=801
SERVICE_TYPE=0                 # 0 television, 1 radio
SERVICE_ID=0x0C81
TRANSPORT_STREAM_ID=0x0007
ORIGINAL_NETWORK_ID=0xFF01     # private temporary range: belongs to no real network
EVENT_ID=0x5A3C
PMT_PID=0x0100
VIDEO_PID=0x0101               # first elementary stream, also carries the PCR
AUDIO_PID=0x0102
PCR_PID=$VIDEO_PID
START="2026-03-14 05:55"       # broadcast (UTC) time of the event
END="2026-03-14 06:00"
EVENT_NAME="Test Card and Tone"
EVENT_DESCRIPTION="Colour bars with a 1 kHz line-up tone, shown before the morning programmes begin."
FORMAT_VERSION=0x5010

stream=$(mktemp --suffix=.ts)
trap 'rm -f "$stream"' EXIT

ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "smptebars=size=720x576:rate=25:duration=6" \
    -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=6" \
    -c:v mpeg2video -b:v 1500k -maxrate 1500k -bufsize 1835k -g 12 -pix_fmt yuv420p \
    -c:a mp2 -b:a 128k -ac 2 \
    -fflags +bitexact -flags:v +bitexact -flags:a +bitexact \
    -f mpegts -muxrate 1900k \
    -mpegts_original_network_id "$ORIGINAL_NETWORK_ID" \
    -mpegts_transport_stream_id "$TRANSPORT_STREAM_ID" \
    -mpegts_service_id "$SERVICE_ID" \
    -mpegts_pmt_start_pid "$PMT_PID" \
    -mpegts_start_pid "$VIDEO_PID" \
    -metadata service_name="$CHANNEL_NAME" \
    -metadata service_provider="Harbour Light" \
    "$stream"

export CHANNEL_NAME SERVICE_NUMBER SERVICE_TYPE SERVICE_ID TRANSPORT_STREAM_ID ORIGINAL_NETWORK_ID \
    EVENT_ID PMT_PID VIDEO_PID AUDIO_PID PCR_PID START END EVENT_NAME EVENT_DESCRIPTION FORMAT_VERSION
python3 - "$stream" test.rec <<'PYTHON'
import datetime, os, struct, sys

env = os.environ
number = lambda name: int(env[name], 0)

def broadcast_time(text):
    moment = datetime.datetime.strptime(text, "%Y-%m-%d %H:%M")
    mjd = (moment.date() - datetime.date(1858, 11, 17)).days
    return mjd << 16 | moment.hour << 8 | moment.minute

start, end = broadcast_time(env["START"]), broadcast_time(env["END"])
minutes = ((end >> 16) - (start >> 16)) * 1440 + ((end >> 8 & 0xFF) - (start >> 8 & 0xFF)) * 60 + (end & 0xFF) - (start & 0xFF)
name = env["EVENT_NAME"].encode()
description = env["EVENT_DESCRIPTION"].encode()

header = bytearray(3760)
header[0:4] = b"TFrc"
struct.pack_into(">H", header, 4, number("FORMAT_VERSION"))
struct.pack_into(">BBHH", header, 8, minutes // 60, minutes % 60, number("SERVICE_NUMBER"), number("SERVICE_TYPE"))
struct.pack_into(">HHHHH", header, 18, number("SERVICE_ID"), number("PMT_PID"), number("PCR_PID"),
                 number("VIDEO_PID"), number("AUDIO_PID"))
channel = env["CHANNEL_NAME"].encode()
header[28:28 + len(channel)] = channel
struct.pack_into(">H", header, 64, number("TRANSPORT_STREAM_ID"))
struct.pack_into(">H", header, 68, number("ORIGINAL_NETWORK_ID"))
struct.pack_into(">HII", header, 78, number("EVENT_ID"), start, end)
header[89] = len(name)
header[91:91 + len(name)] = name
header[91 + len(name):91 + len(name) + len(description)] = description

with open(sys.argv[1], "rb") as source:
    stream = source.read()
if stream[:1] != b"\x47":
    sys.exit("the stream does not start with a sync byte")
with open(sys.argv[2], "wb") as target:
    target.write(header)
    target.write(stream)
print(f"{sys.argv[2]}: {3760 + len(stream)} bytes, stream {len(stream)} bytes")
PYTHON
