"""An independent, slow model of score2wav in plain Python.

It follows the score format and the sound formula literally, one sample at a
time with math.fmod, and is used to make and check the golden files of the
end-to-end tests. It shares no code with the program.
"""
import math
import re
import struct

MESSAGES = {
    "openRead": "File open error as read.",
    "openWrite": "File open error as write.",
    "tooLong": "Score too long.",
}
NOTE_OFFSETS = {"d": 0, "r": 2, "m": 4, "f": 5, "s": 7, "l": 9, "t": 11}
PERIODS = [(1 / 110) / 2 ** (k / 12.0) for k in range(48)]  # glibc pow rounds these correctly
STEP = 1.0 / 8000


def parse_duration(text):
    """The header number: 15 significant digits, no hex, inf or nan."""
    m = re.match(rb"[ \t\n\v\f\r]*([+-]?)([0-9]*)(?:\.([0-9]*))?", text)
    sign, whole, frac = m.group(1), m.group(2), m.group(3) or b""
    if not whole and not frac:
        return 0.0
    exp_match = re.match(rb"[eE]([+-]?[0-9]+)", text[m.end():])
    exponent = int(exp_match.group(1)) if exp_match else 0
    digits, scale = whole.lstrip(b"0"), 0
    if len(digits) > 15:
        scale, digits = len(digits) - 15, digits[:15]
    if not digits:  # the value starts in the fraction
        stripped = frac.lstrip(b"0")
        scale = -(len(frac) - len(stripped))
        frac = stripped
    room = 15 - len(digits)
    kept_frac = frac[:room]
    digits += kept_frac
    scale -= len(kept_frac)
    value = float((digits or b"0").decode() + "e" + str(scale + exponent)) if digits else 0.0
    return -value if sign == b"-" else value


def decode(data):
    """The score's text: after a UTF-8 mark, or a UTF-16 file's text in UTF-8,
    each unit that is no character (a lone surrogate, an odd last byte) the
    byte FF."""
    if data[:3] == b"\xef\xbb\xbf":
        return data[3:]
    if data[:2] not in (b"\xff\xfe", b"\xfe\xff"):
        return data
    body = data[2:]
    odd = len(body) % 2
    text = body[:len(body) - odd].decode("utf-16-le" if data[0] == 0xFF else "utf-16-be", "surrogatepass")
    out = b"".join(b"\xff" if 0xD800 <= ord(c) < 0xE000 else c.encode("utf-8") for c in text)
    return out + (b"\xff" if odd else b"")


def fold_with_offsets(data):
    """The characters of the file with CR LF folded to LF, each with the file
    offset of its first byte."""
    chars, i = [], 0
    while i < len(data):
        if data[i] == 13 and i + 1 < len(data) and data[i + 1] == 10:
            chars.append((10, i))
            i += 2
        else:
            chars.append((data[i], i))
            i += 1
    return chars


def split_score(data):
    """Returns (duration, header text, chords, rest): each chord its text and,
    per character, (line, column, file offset); rest the same for the text
    after the last bar."""
    chars = fold_with_offsets(data)
    text = bytes(c for c, _ in chars)
    header_end = text.find(b"\n")
    header_len = 127 if header_end < 0 or header_end >= 127 else header_end + 1
    header_len = min(header_len, len(text))
    duration = parse_duration(text[:header_len])
    line = text.count(b"\n", 0, header_len) + 1
    column = header_len - (text.rfind(b"\n", 0, header_len) + 1) + 1
    chords, current, where = [], bytearray(), []
    for byte, offset in chars[header_len:]:
        c = byte + 32 if 65 <= byte <= 90 else byte
        if c == ord("|"):
            chords.append((bytes(current), where))
            current, where = bytearray(), []
        elif c not in (9, 10, 32):
            current.append(c)
            where.append((line, column, offset))
        if c == 10:
            line, column = line + 1, 1
        else:
            column += 1
    return duration, text[:header_len], chords, (bytes(current), where)


def parse_chord(text):
    """Returns (pitch indexes, skipped runs as (start, bytes))."""
    notes, skipped, i = [], [], 0
    while i < len(text):
        used = 0
        if i + 1 < len(text) and 48 <= text[i] <= 51 and chr(text[i + 1]) in NOTE_OFFSETS:
            pitch = (text[i] - 48) * 12 + NOTE_OFFSETS[chr(text[i + 1])]
            used = 2
            if i + 2 < len(text) and text[i + 2] in b"b#":
                pitch += -1 if text[i + 2] == ord("b") else 1
                used = 3
            if not 0 <= pitch <= 47:
                used = 0
        if used:
            notes.append(pitch)
            i += used
            continue
        if skipped and skipped[-1][0] + len(skipped[-1][1]) == i:
            skipped[-1] = (skipped[-1][0], skipped[-1][1] + text[i:i + 1])
        else:
            skipped.append((i, text[i:i + 1]))
        i += 1
    return notes, skipped


def sample_count(duration):
    count, t = 0, 0.0
    while duration > t:
        count, t = count + 1, t + STEP
    return count


def render(notes, max_notes, duration):
    n = len(notes)
    if n == 1 and max_notes <= 1:
        gain = 60.0
    elif n:
        gain = ((60.0 / n) / float(max_notes - 1)) * (float(max_notes + n) - 2.0)
    out, t = bytearray(), 0.0
    while duration > t:
        u = 0.0
        for pitch in notes:
            period = PERIODS[pitch]
            u = ((math.fmod(t, period) * 2.0) / period - 1.0) * gain + u
        out.append(int(u + 128.0) & 0xFF)
        t = t + STEP
    return bytes(out)


def escape(raw):
    out = ""
    for b in raw:
        if b in (0x22, 0x5C):
            out += "\\" + chr(b)
        elif b < 0x20 or b == 0x7F:
            out += "\\x%02X" % b
        else:
            out += chr(b)  # the tests keep to ASCII here
    return out


def quote(raw, limit=60):
    """The text of a warning's quote: at most 60 bytes, then "..." if cut."""
    return escape(raw[:limit]) + ("..." if len(raw) > limit else "")


def header_warnings(name, duration, chord_count, header):
    """The warnings about the first line: its chord length, and chords on it."""
    first_line = header[:-1] if header.endswith(b"\n") else header
    warnings = []
    if duration == 0.0 and chord_count:
        warnings.append("the chord length reads as 0 seconds")
    elif duration < 0.0:
        warnings.append("the chord length is negative")
    warnings = ['%s:1:1: warning: %s (the first line begins "%s"), so the WAV will hold no sound\n' % (
        name, what, quote(first_line)) for what in warnings]
    warnings += long_chord_warning(name, duration, chord_count, header)
    if b"|" in header:
        lasts = ", and every chord lasts %s s" % ("%.15g" % duration) if duration > 0 else ""
        warnings.append('%s:1:1: warning: the first line only gives the chord length, so its chords are '
                        'not played%s (the first line begins "%s")\n' % (name, lasts, quote(first_line)))
    return warnings


def trailing_warning(name, rest, any_bar):
    """The warning about note letters that no bar ends, at the first of them."""
    text, where = rest
    letters = [i for i, c in enumerate(text) if chr(c) in NOTE_OFFSETS]
    if not letters:
        return []
    first = letters[0] - 1 if letters[0] > 0 and text[letters[0] - 1:letters[0]].isdigit() else letters[0]
    line, column, _ = where[first]
    count = len(letters)
    notes = "%d note%s" % (count, "" if count == 1 else "s")
    verb = "is" if count == 1 else "are"
    if any_bar:
        what = '%s after the last bar %s not played: a chord ends with "|"' % (notes, verb)
    else:
        what = '%s %s not played: the score has no bar, and a chord ends with "|"' % (notes, verb)
    return ["%s:%d:%d: warning: %s\n" % (name, line, column, what)]


HINT = "a note is an octave digit 0 to 3, then a letter d r m f s l t, e.g. 2d"


UNICODE_BLANKS = {0xA0: "a no-break space", 0x202F: "a narrow no-break space", 0x3000: "an ideographic space"}


def unicode_reason(raw):
    """Why a run that begins with a character outside ASCII holds no note:
    the slips keyboards and phones make; None where nothing is known."""
    stripped = raw.lstrip(b" \t\n")
    lead = stripped[:1]
    size = 2 if b"\xc2" <= lead <= b"\xdf" else 3 if b"\xe0" <= lead <= b"\xef" else 0
    try:
        first = stripped[:size].decode("utf-8") if size else ""
    except UnicodeDecodeError:
        first = ""
    code = ord(first) if len(first) == 1 else 0
    if code == 0x266F:
        return "the sharp sign (U+266F) is not read: type # after the note, e.g. 2f#"
    if code == 0x266D:
        return "the flat sign (U+266D) is not read: type b after the note, e.g. 2mb"
    if 0xFF10 <= code <= 0xFF19 or 0xFF21 <= code <= 0xFF3A or 0xFF41 <= code <= 0xFF5A:
        return "full-width characters are not read: type the digits and letters in ASCII, e.g. 2d"
    if code in (0xA0, 0x1680, 0x202F, 0x205F, 0x3000) or 0x2000 <= code <= 0x200A:
        return "%s (U+%04X) is no blank in a score: type an ordinary space" % (
            UNICODE_BLANKS.get(code, "a Unicode space"), code)
    return None


def skip_reason(raw, hinted):
    """Why a skipped run holds no note, from its first characters; and
    whether it gave the hint on letter names."""
    if raw.lstrip(b" \t\n")[:1] >= b"\x80":
        return unicode_reason(raw) or "no note begins here", hinted
    text = re.sub(rb"[ \t\n]", b"", raw[:60].lower()).decode("latin-1")
    if re.match(r"[a-g][#b]?[0-9]", text):
        return ("letter names are not read" + ("" if hinted else "; " + HINT)), True
    if re.match(r"[4-9][drmfslt]", text):
        return "octave %s; octaves are 0 to 3" % text[0], hinted
    if re.match(r"[0-3][drmfslt]", text):
        return "outside the notes 0d to 3t", hinted
    if re.match(r"[0-3]", text):
        return "an octave digit needs a note letter (d r m f s l t) after it", hinted
    if re.match(r"[drmfslt]", text):
        return "a note letter needs its octave digit 0 to 3 before it, e.g. 2d", hinted
    return "no note begins here", hinted


def skipped_warning(name, data, chord_where, start, length, hinted):
    line, column, first = chord_where[start]
    last = chord_where[start + length - 1][2]
    raw = data[first:last + 1]
    text = '%s:%d:%d: warning: skipped "%s"' % (name, line, column, quote(raw))
    if len(raw) > 60:
        text += " (%d characters)" % len(raw)
    reason, hinted = skip_reason(raw, hinted)
    return text + ": " + reason + "\n", hinted


def too_long(name, wav_bytes):
    size = "%.1f GB" % (wav_bytes / 1e9) if wav_bytes < 1e12 else "%.3g GB" % (wav_bytes / 1e9)
    return (None, MESSAGES["tooLong"] + "\n",
            'score2wav: "%s": the WAV would hold %s; the format\'s limit is 2 GiB\n' % (name, size), 1)


def long_chord_warning(name, duration, chord_count, header):
    if duration <= 10 or not chord_count:
        return []
    first_line = header[:-1] if header.endswith(b"\n") else header
    seconds = sample_count(duration) * chord_count // 8000
    return ['%s:1:1: warning: every chord lasts %s seconds (the first line begins "%s"), so the WAV will '
            'last %d:%02d:%02d (h:mm:ss)\n' % (name, ("%.15g" % duration), quote(first_line), seconds // 3600,
                                              seconds // 60 % 60, seconds % 60)]


def convert(data, score_name):
    """Returns (wav bytes or None, stdout text, stderr text, exit status)."""
    data = decode(data)
    duration, header, chords, rest = split_score(data)
    max_notes = max((sum(1 for c in text if chr(c) in NOTE_OFFSETS) for text, _ in chords), default=0)
    if not math.isfinite(duration):
        return (None, MESSAGES["tooLong"] + "\n",
                'score2wav: "%s": the chord length is not a finite number\n' % score_name, 1)
    declared = duration * 8000 * float(len(chords))
    if declared > 2147483611:  # the RIFF length, 36 more, would not fit 32 signed bits
        return too_long(score_name, declared + 44)
    samples = sample_count(duration) if chords else 0
    data_size = min(int(declared) if declared > 0 else 0, samples * len(chords))
    wav_header = b"RIFF" + struct.pack("<I", data_size + 36) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, 1, 8000, 8000, 1, 8) + b"data" + struct.pack("<I", data_size)
    body, stdout, stderr = bytearray(), "", ""
    shown, hidden = [], []  # the kinds of the warnings shown, and of those beyond the hundred

    def warn(kind, line):
        nonlocal stderr
        if len(shown) == 100:
            hidden.append(kind)
        else:
            shown.append(kind)
            stderr += line

    for line in header_warnings(score_name, duration, len(chords), header):
        warn("header", line)
    hinted, skipped_runs, note_total = False, 0, 0
    for text, where in chords:
        notes, skipped = parse_chord(text)
        stdout += text.decode("latin-1") + "\n"
        for start, raw in skipped:
            skipped_runs += 1
            if len(shown) == 100:
                hidden.append("skipped")
                continue
            line, hinted = skipped_warning(score_name, data, where, start, len(raw), hinted)
            warn("skipped", line)
        note_total += len(notes)
        body += render(notes, max_notes, duration)
    for line in trailing_warning(score_name, rest, bool(chords)):
        warn("notes", line)
    if hidden and set(hidden) == {"skipped"}:
        stderr += "%s: warning: %d more run%s of skipped text %s not shown\n" % (
            score_name, len(hidden), "" if len(hidden) == 1 else "s", "was" if len(hidden) == 1 else "were")
    elif hidden:
        stderr += "%s: warning: %d more warning%s not shown\n" % (
            score_name, len(hidden), " was" if len(hidden) == 1 else "s were")
    if skipped_runs and not note_total:
        stderr += "%s: warning: no chord holds a note that can be played, so the WAV is silent; %s\n" % (
            score_name, HINT)
    if not chords and not any(chr(c) in NOTE_OFFSETS for c in rest[0]):
        stderr += ("%s: warning: the score holds no chord, so the WAV is silent; a chord is notes ended by "
                   "a bar, e.g. 2d2m |\n" % score_name)
    return wav_header + bytes(body), stdout, stderr, 0
