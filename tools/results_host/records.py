"""The shared file's records: the one encoder and decoder of them in Python, and the checks a new record must pass.

A record is four texts (name, e-mail address, OS, processor), each a little-endian 32-bit length followed by that
many bytes of Windows-1252, then the score as a little-endian double. The shared file is a plain run of them."""

import collections
import math
import struct

from .names import SHARED_NAME

FIELD_NAMES = ("name", "e-mail address", "OS", "processor")
# The five codes Windows-1252 leaves undefined: the program keeps them as the code points of the same number.
_UNDEFINED_1252 = frozenset("\x81\x8d\x8f\x90\x9d")
MAX_FIELD = 300  # bytes of one text of a new record
MAX_NEW_RECORDS = 64 << 10  # bytes of new records one change may add

WHOLE_RECORDS = "the new %s does not end in whole records." % SHARED_NAME
NO_RECORD = "the change adds no record to %s." % SHARED_NAME

_INT32 = struct.Struct("<i")
_DOUBLE = struct.Struct("<d")

Record = collections.namedtuple("Record", "name email os processor score")


class Refusal(Exception):
    """A change the host does not allow; str() is the reason told to the client, code its FTP reply code."""

    def __init__(self, reason, code=550):
        super().__init__(reason)
        self.code = code


def encode_text(text):
    """Windows-1252 as the program writes it: characters the code page cannot hold become "?"."""
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError:
        return bytes(ord(c) if c in _UNDEFINED_1252 else c.encode("cp1252", "replace")[0] for c in text)


def encode_record(name, email, os_name, processor, score):
    """One record's bytes. Texts may be bytes, taken as they are, or str, encoded as the program does."""
    out = bytearray()
    for text in (name, email, os_name, processor):
        data = encode_text(text) if isinstance(text, str) else bytes(text)
        out += _INT32.pack(len(data)) + data
    out += _DOUBLE.pack(score)
    return bytes(out)


def _record_end(data, pos, end):
    """Where the record that starts at pos ends, or None when data[pos:end] does not begin with a whole one.
    Records already kept may hold texts of any length."""
    for _ in FIELD_NAMES:
        if end - pos < 4:
            return None
        (length,) = _INT32.unpack_from(data, pos)
        if length < 0 or pos + 4 + length > end:
            return None
        pos += 4 + length
    return pos + 8 if end - pos >= 8 else None


def whole_records_end(data, start, end):
    """Where the last whole record of data[start:end] ends, reading from start."""
    pos = start
    while True:
        after = _record_end(data, pos, end)
        if after is None:
            return pos
        pos = after


def decode_records(data):
    """The records of data, their texts as bytes. Raises ValueError unless data is a run of whole records."""
    records, pos = [], 0
    while pos < len(data):
        if _record_end(data, pos, len(data)) is None:
            raise ValueError("no whole record at byte %d of %d" % (pos, len(data)))
        texts = []
        for _ in FIELD_NAMES:
            (length,) = _INT32.unpack_from(data, pos)
            texts.append(bytes(data[pos + 4:pos + 4 + length]))
            pos += 4 + length
        records.append(Record(*texts, _DOUBLE.unpack_from(data, pos)[0]))
        pos += 8
    return records


def check_new_records(data):
    """Raises Refusal unless data is one or more whole records fit to be added: four texts of 0 to MAX_FIELD
    bytes each, then a finite score."""
    pos, end = 0, len(data)
    if not end:
        raise Refusal(NO_RECORD)
    while pos < end:
        for field in FIELD_NAMES:
            if end - pos < 4:
                raise Refusal(WHOLE_RECORDS)
            (length,) = _INT32.unpack_from(data, pos)
            if length < 0:
                raise Refusal("a new record's %s has a negative length." % field)
            if length > MAX_FIELD:
                raise Refusal("a new record's %s is %d bytes long; at most %d are taken."
                              % (field, length, MAX_FIELD))
            pos += 4 + length
            if pos > end:
                raise Refusal(WHOLE_RECORDS)
        if end - pos < 8:
            raise Refusal(WHOLE_RECORDS)
        if not math.isfinite(_DOUBLE.unpack_from(data, pos)[0]):
            raise Refusal("a new record's score is not a finite number.")
        pos += 8
