#!/usr/bin/python3
"""Encrypted .xls fixtures built from the format's published description, and hostile variants
of the encrypted fixtures.

  make_fixtures.py    (run from any folder; writes next to this script)

The .xls files encrypt tests/data/xls/grid.xls (saved by LibreOffice) the way [MS-XLS] 2.2.10
and [MS-OFFCRYPTO] 2.3.5 and 2.3.7 describe it: a FILEPASS record after the globals' BOF, every
record after it encrypted except BOF, FILEPASS, INTERFACEHDR, FILELOCK, USREXCL, RRDINFO and
RRDHEAD and the sheet offsets of BOUNDSHEET; RC4 keyed per 1024-byte block of the stream. The
CryptoAPI header is the example header of [MS-OFFCRYPTO] 3.6 (40-bit RC4, SHA-1, "Microsoft
Base Cryptographic Provider v1.0"), or its 128-bit form. The hostile files change one field of
agile_grid.xlsx, standard_grid.xlsx or cryptoapi_grid.xls (made by make_xlsx_fixtures.js and
this script) and store the streams again in a plain compound file.
"""

import hashlib
import importlib.util
import os
import re
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
# The compound file writer and record helper of the .xls fixtures.
_spec = importlib.util.spec_from_file_location("xls_fixtures", os.path.join(HERE, "..", "xls", "make_fixtures.py"))
_xls = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_xls)
compound_file, record = _xls.compound_file, _xls.record

NEVER_ENCRYPTED = {0x0809, 0x002F, 0x0194, 0x0195, 0x00E1, 0x0196, 0x0138}
BOUNDSHEET = 0x0085
FIXED_SALT = bytes(range(0x10, 0x20))
FIXED_VERIFIER = bytes(range(0xA0, 0xB0))


def read_compound_file(data):
    """{stream name: bytes} of the root storage's streams (version 3 or 4, no nesting)."""
    sector = 1 << struct.unpack_from("<H", data, 30)[0]
    mini_cutoff = struct.unpack_from("<I", data, 56)[0]
    fat_count, dir_start = struct.unpack_from("<II", data, 44)
    mini_fat_start, mini_fat_count, difat_start = struct.unpack_from("<III", data, 60)
    difat = list(struct.unpack_from("<109I", data, 76))[:fat_count]
    assert fat_count <= 109, "a DIFAT chain is not needed for the fixtures"

    def sector_bytes(index):
        return data[(index + 1) * sector:(index + 2) * sector]

    fat = []
    for index in difat:
        fat += struct.unpack("<%dI" % (sector // 4), sector_bytes(index))

    def chain(start):
        out = b""
        while start < 0xFFFFFFFA:
            out += sector_bytes(start)
            start = fat[start]
        return out

    directory = chain(dir_start)
    entries = []
    for offset in range(0, len(directory), 128):
        raw = directory[offset:offset + 128]
        name_length = struct.unpack_from("<H", raw, 64)[0]
        name = raw[:max(0, name_length - 2)].decode("utf-16-le")
        kind = raw[66]
        start, size = struct.unpack_from("<II", raw, 116)
        entries.append((name, kind, start, size))
    root = entries[0]
    mini_stream = chain(root[2])
    mini_fat_bytes = chain(mini_fat_start) if mini_fat_count else b""
    mini_fat = list(struct.unpack("<%dI" % (len(mini_fat_bytes) // 4), mini_fat_bytes))
    streams = {}
    for name, kind, start, size in entries[1:]:
        if kind != 2:
            continue
        if size < mini_cutoff:
            out = b""
            while start < 0xFFFFFFFA:
                out += mini_stream[start * 64:(start + 1) * 64]
                start = mini_fat[start]
        else:
            out = chain(start)
        streams[name] = out[:size]
    return streams


def records(stream):
    offset = 0
    while offset + 4 <= len(stream):
        record_id, length = struct.unpack_from("<HH", stream, offset)
        yield offset, record_id, length
        offset += 4 + length


def with_filepass(stream, filepass_data):
    """The stream with a FILEPASS record after the first BOF and BOUNDSHEET offsets moved."""
    bof_length = struct.unpack_from("<H", stream, 2)[0]
    inserted = record(0x002F, filepass_data)
    out = bytearray(stream[:4 + bof_length] + inserted + stream[4 + bof_length:])
    for offset, record_id, _ in records(bytes(out)):
        if record_id == BOUNDSHEET:
            position = struct.unpack_from("<I", out, offset + 4)[0]
            struct.pack_into("<I", out, offset + 4, position + len(inserted))
    return out, 4 + bof_length + len(inserted)


def encrypted_spans(stream, start):
    """(offset, length, record length) of the bytes to encrypt after `start`."""
    for offset, record_id, length in records(bytes(stream)):
        if offset < start or record_id in NEVER_ENCRYPTED:
            continue
        plain = 4 if record_id == BOUNDSHEET else 0
        yield offset + 4 + plain, length - plain, length


def rc4(key, data):
    state = list(range(256))
    j = 0
    for i in range(256):
        j = (j + state[i] + key[i % len(key)]) & 0xFF
        state[i], state[j] = state[j], state[i]
    out = bytearray()
    i = j = 0
    for byte in data:
        i = (i + 1) & 0xFF
        j = (j + state[i]) & 0xFF
        state[i], state[j] = state[j], state[i]
        out.append(byte ^ state[(state[i] + state[j]) & 0xFF])
    return bytes(out)


def rc4_encrypt_blocks(stream, start, key_for_block):
    """RC4 keyed anew every 1024 bytes of stream offset; the key stream runs over every byte."""
    blocks = {}
    for offset, length, _ in encrypted_spans(stream, start):
        for position in range(offset, offset + length):
            block = position // 1024
            if block not in blocks:
                blocks[block] = rc4(key_for_block(block), bytes(1024))
            stream[position] ^= blocks[block][position % 1024]


def cryptoapi_filepass(password, key_bits):
    """FILEPASS data and the per-block key function of RC4 CryptoAPI."""
    provider = ("Microsoft Base Cryptographic Provider v1.0" if key_bits == 40
                else "Microsoft Enhanced Cryptographic Provider v1.0")
    header = struct.pack("<IIIIIIII", 0x04, 0, 0x6801, 0x8004, key_bits, 1, 0x02860AB0, 0)
    header += (provider + "\0").encode("utf-16-le")
    base = hashlib.sha1(FIXED_SALT + password.encode("utf-16-le")).digest()

    def key_for(block):
        key = hashlib.sha1(base + struct.pack("<I", block)).digest()[:key_bits // 8]
        return key + bytes(11) if key_bits == 40 else key

    sealed = rc4(key_for(0), FIXED_VERIFIER + hashlib.sha1(FIXED_VERIFIER).digest())
    verifier = struct.pack("<I", 16) + FIXED_SALT + sealed[:16] + struct.pack("<I", 20) + sealed[16:]
    data = struct.pack("<HHHII", 1, 4, 2, 0x04, len(header)) + header + verifier
    return data, key_for


XOR_PAD = [0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80, 0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00]
XOR_INITIAL = [0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E, 0x1872, 0xE139,
               0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3]
XOR_MATRIX = [
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7,
    0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4,
    0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45,
    0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC,
    0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD,
    0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483,
    0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
    0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373,
    0x06E6, 0x0DCC, 0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4]


def xor_key(password):
    key = XOR_INITIAL[len(password) - 1]
    element = 0x68
    for character in reversed(password):
        for _ in range(7):
            if character & 0x40:
                key ^= XOR_MATRIX[element]
            character = (character << 1) & 0xFF
            element -= 1
    return key


def xor_verifier(password):
    verifier = 0
    for byte in reversed(bytes([len(password)]) + password):
        verifier = (((verifier >> 14) & 1) | ((verifier << 1) & 0x7FFF)) ^ byte
    return verifier ^ 0xCE4B


def xor_array(password):
    key = xor_key(password)
    high, low = key >> 8, key & 0xFF
    ror = lambda a, b: (((a ^ b) >> 1) | ((a ^ b) << 7)) & 0xFF
    array = [0] * 16
    index = len(password)
    if index % 2 == 1:
        array[index] = ror(XOR_PAD[0], high)
        index -= 1
        array[index] = ror(password[-1], low)
    while index > 0:
        index -= 1
        array[index] = ror(password[index], high)
        index -= 1
        array[index] = ror(password[index], low)
    index, pad = 15, 15 - len(password)
    while pad > 0:
        array[index] = ror(XOR_PAD[pad], high)
        index, pad = index - 1, pad - 1
        array[index] = ror(XOR_PAD[pad], low)
        index, pad = index - 1, pad - 1
    return array


def encrypt_xls(plain_path, method, password, key_bits=128, encoding="latin-1"):
    streams = read_compound_file(open(plain_path, "rb").read())
    name = "Workbook"
    if method == "cryptoapi":
        filepass, key_for = cryptoapi_filepass(password, key_bits)
        stream, start = with_filepass(streams[name], filepass)
        rc4_encrypt_blocks(stream, start, key_for)
    else:
        secret = password.encode(encoding)
        filepass = struct.pack("<HHH", 0, xor_key(secret), xor_verifier(secret))
        stream, start = with_filepass(streams[name], filepass)
        array = xor_array(secret)
        for offset, length, record_length in encrypted_spans(stream, start):
            for position in range(offset, offset + length):
                value = ((stream[position] << 5) | (stream[position] >> 3)) & 0xFF
                stream[position] = value ^ array[(position + record_length) % 16]
    streams[name] = bytes(stream)
    return compound_file(streams)


def rewritten(path, stream, change):
    streams = read_compound_file(open(os.path.join(HERE, path), "rb").read())
    streams = {key: streams[key] for key in streams if not key.startswith("\x06")}
    streams[stream] = change(streams[stream])
    return compound_file(streams)


def agile_attribute(name, value, element="p:encryptedKey"):
    def change(info):
        xml = info[8:].decode("utf-8")
        start = xml.index("<" + element)
        tag_end = xml.index(">", start)
        tag = re.sub(r'\b%s="[^"]*"' % name, '%s="%s"' % (name, value), xml[start:tag_end])
        return info[:8] + (xml[:start] + tag + xml[tag_end:]).encode("utf-8")
    return change


def main():
    grid = os.path.join(HERE, "..", "xls", "grid.xls")
    outputs = {
        "cryptoapi_grid.xls": encrypt_xls(grid, "cryptoapi", "api-Pass", 128),
        "cryptoapi_40bit_default_password_grid.xls": encrypt_xls(grid, "cryptoapi", "VelvetSweatshop", 40),
        "xor_grid.xls": encrypt_xls(grid, "xor", "xor-pw"),
        "xor_default_password_grid.xls": encrypt_xls(grid, "xor", "VelvetSweatshop"),
        # A Chinese password in the ANSI code page of Chinese systems, as Excel there stores it.
        "xor_gbk_password_grid.xls": encrypt_xls(grid, "xor", "密码", encoding="gbk"),
    }
    for name, data in outputs.items():
        open(os.path.join(HERE, name), "wb").write(data)

    def package_claims(size):
        return lambda package: struct.pack("<Q", size) + package[8:]

    def standard_header_size(info):
        return info[:8] + struct.pack("<I", 0x7FFFFFFF) + info[12:]

    def cryptoapi_header_size(stream):
        out = bytearray(stream)
        for offset, record_id, _ in records(stream):
            if record_id == 0x002F:
                struct.pack_into("<I", out, offset + 4 + 10, 0x7FFFFFFF)
        return bytes(out)

    def flipped_verifier(info):
        xml = info[8:].decode("utf-8")
        match = re.search(r'encryptedVerifierHashValue="(.)', xml)
        letter = "B" if match.group(1) != "B" else "C"
        xml = xml[:match.start(1)] + letter + xml[match.end(1):]
        return info[:8] + xml.encode("utf-8")

    hostile = {
        "hostile_spin_count.xlsx": ("agile_grid.xlsx", "EncryptionInfo", agile_attribute("spinCount", "4000000000")),
        "hostile_key_bits.xlsx": ("agile_grid.xlsx", "EncryptionInfo", agile_attribute("keyBits", "1048576")),
        "hostile_salt_size.xlsx": ("agile_grid.xlsx", "EncryptionInfo", agile_attribute("saltSize", "100000000", "keyData")),
        "hostile_unknown_cipher.xlsx": ("agile_grid.xlsx", "EncryptionInfo", agile_attribute("cipherAlgorithm", "ROT13")),
        "hostile_unknown_hash.xlsx": ("agile_grid.xlsx", "EncryptionInfo", agile_attribute("hashAlgorithm", "WHIRLPOOL", "keyData")),
        "hostile_wrong_verifier.xlsx": ("agile_grid.xlsx", "EncryptionInfo", flipped_verifier),
        "hostile_package_claims_more.xlsx": ("agile_grid.xlsx", "EncryptedPackage", package_claims(1 << 40)),
        "hostile_standard_header_size.xlsx": ("standard_grid.xlsx", "EncryptionInfo", standard_header_size),
        "hostile_cryptoapi_header_size.xls": ("cryptoapi_grid.xls", "Workbook", cryptoapi_header_size),
    }
    for name, (source, stream, change) in hostile.items():
        open(os.path.join(HERE, name), "wb").write(rewritten(source, stream, change))


if __name__ == "__main__":
    main()
