#!/usr/bin/env python3
"""Makes the demux fixtures of tests/data/demux/ from the shared fixture discs and streams.

    tests/data/make-demux.py FIXTURES    (FIXTURES: the shared fixtures folder, with discs/ and es/)

Filtered clips keep every packet of the program tables (PAT, PMT, SIT), of the PCR PID and of
the chosen streams, in file order with their arrival time stamps, so that the kept streams
demultiplex exactly as from the whole clip. `*.prefix` files are the first bytes of a reference
stream (for WAVE files: of its sample data), to compare the demux of a clip's head with.
"""
import os
import struct
import sys

PSI = {0x0000, 0x0100, 0x001F, 0x1001}


def filter_clip(src, dst, pids, first_packet_of=()):
    data = open(src, 'rb').read()
    out = bytearray()
    seen = set()
    for i in range(len(data) // 192):
        packet = data[i * 192:(i + 1) * 192]
        pid = (packet[5] & 0x1F) << 8 | packet[6]
        keep = pid in PSI or pid in pids
        # The first packet of these PIDs carries the first PES time of the clip.
        if pid in first_packet_of and pid not in seen:
            keep = True
        seen.add(pid)
        if keep:
            out += packet
    # Whole 6144-byte units, as a clip has.
    while len(out) % 6144:
        out += b'\x00\x00\x00\x00\x47\x1f\xff\x10' + b'\xff' * 184
    open(dst, 'wb').write(out)


def unit_starts(src, dst, pid):
    """Only the program tables and the packets of `pid` that start a PES packet."""
    data = open(src, 'rb').read()
    out = bytearray()
    for i in range(len(data) // 192):
        packet = data[i * 192:(i + 1) * 192]
        p = (packet[5] & 0x1F) << 8 | packet[6]
        if p in PSI or (p == pid and packet[5] & 0x40):
            out += packet
    open(dst, 'wb').write(out)


def wave_data(path):
    data = open(path, 'rb').read()
    pos = 12
    while pos + 8 <= len(data):
        tag = data[pos:pos + 4]
        size = struct.unpack('<I', data[pos + 4:pos + 8])[0]
        if tag == b'data':
            return data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    raise SystemExit(path + ': no data chunk')


def main():
    fixtures = sys.argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, 'demux')
    os.makedirs(out, exist_ok=True)
    discs = os.path.join(fixtures, 'discs')
    es = os.path.join(fixtures, 'es')
    filter_clip(os.path.join(discs, 'disc-simple/BDMV/STREAM/00000.m2ts'),
                os.path.join(out, 'simple_pg.m2ts'), {0x1200}, first_packet_of={0x1011})
    for n in range(3):
        filter_clip(os.path.join(discs, 'disc-multiclip/BDMV/STREAM/%05d.m2ts' % n),
                    os.path.join(out, 'multiclip_%05d_ac3.m2ts' % n), {0x1100})
    for disc in ('disc-simple', 'disc-audio-zoo', 'disc-mpeg2'):
        unit_starts(os.path.join(discs, disc, 'BDMV/STREAM/00000.m2ts'),
                    os.path.join(out, disc[5:] + '_video_starts.m2ts'), 0x1011)
    prefixes = {
        'ac3_51_448k.ac3': 16384,
        'ac3_51_448k_5s.ac3': 32768,
        'eac3_51_384k.eac3': 8192,
        'eac3_20_128k.eac3': 4096,
        'dts_51_768k.dts': 12288,
        'truehd_51.thd': 32768,
        'mpeg2_1080i2997.m2v': 163840,
    }
    for name, size in prefixes.items():
        data = open(os.path.join(es, name), 'rb').read()[:size]
        open(os.path.join(out, name + '.prefix'), 'wb').write(data)
    for name, size in {'lpcm_51_24bit.wav': 98304, 'lpcm_20_16bit.wav': 57344}.items():
        data = wave_data(os.path.join(es, name))[:size]
        open(os.path.join(out, name + '.prefix'), 'wb').write(data)
    whole = open(os.path.join(es, 'ac3_20_192k.ac3'), 'rb').read()
    open(os.path.join(out, 'ac3_20_192k.ac3'), 'wb').write(whole)


if __name__ == '__main__':
    main()
