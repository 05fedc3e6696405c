#!/usr/bin/env python3
"""SpamAssassin's stock regex rules as an ASSL rule file and as a SpamAssassin configuration
that holds exactly the same rules, so that both programs can be timed on the same regexes.

    bench/sa_to_assl.py [--rules-dir DIR]... [--every-rule] [--rejects FILE]
                        [--time-mails LIST] OUT.slf OUT.cf

Reads the rule files as data (default: /usr/share/spamassassin/*.cf, then the sa-update
folders under /var/lib/spamassassin when present; files in name order, a later definition of
a name replaces an earlier one, as SpamAssassin reads them). Takes every `body`, `rawbody`
and `uri` rule whose value is a delimited regex (/re/flags, m{re}flags, m!re!flags ...);
eval: rules, meta rules and everything else are left out. Rules listed by `replace_rules`
get their <TAG> templates expanded first, as SpamAssassin's tag plugin does at load time.

Each rule becomes
    rule NAME { condition: match("PATTERN", HTML::Body, REGEX); actions: mark("spam", 1);
                metadata: priority = N; }
with HTML::AHref for uri rules, the flags i/m/s/x written inline at the front of the pattern
("(?i)..."; the case-insensitive match kind would lower-case the pattern and turn \\S into
\\s), and priorities falling in file order so the rules run in the order SpamAssassin lists
them. With --every-rule the rules carry no priority and one meta-rule, the only signature,
joins them all with "|||" (every operand evaluated) in a balanced tree: every rule then runs
on every page, as every SpamAssassin rule runs on every mail.

A pattern goes into the string literal as written: the rule scanner keeps a backslash pair
as two characters, so only a double quote that no backslash escapes needs one. Each pattern
is compiled with the PCRE2 library (libpcre2-8) under the options the regular-expression
library uses (UTF, UCP, invalid-UTF matching, no \\C); a pattern PCRE2 refuses (Perl-only
syntax, bytes that are not UTF-8) is left out of both outputs. OUT.cf holds the rules kept,
the same names and pattern text, score 1 each, for spamd -C with the stock rules out of the
way. Counts go to stdout. --time-mails times PCRE2's JIT matching alone of the kept patterns
over the files listed: the floor under any engine that runs these regexes over those bytes.
"""
import argparse
import ctypes
import glob
import os
import re
import sys
import time

KINDS = {"body": "HTML::Body", "rawbody": "HTML::Body", "uri": "HTML::AHref"}
INLINE_FLAGS = set("imsx")
# PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF | PCRE2_NEVER_BACKSLASH_C
PCRE2_OPTIONS = 0x00080000 | 0x00020000 | 0x04000000 | 0x00100000
REPLACE_KEYS = ("replace_tag", "replace_pre", "replace_inter", "replace_post")
MIRROR = {"{": "}", "(": ")", "<": ">", "[": "]"}


def default_dirs():
    dirs = ["/usr/share/spamassassin"]
    dirs += sorted(d for d in glob.glob("/var/lib/spamassassin/*/*") if glob.glob(d + "/*.cf"))
    return dirs


def config_lines(dirs):
    """Every setting line of the rule files: comments cut at an unescaped '#', '\\#' read as
    '#', blanks trimmed (the text as latin-1, one character per byte)."""
    for folder in dirs:
        for path in sorted(glob.glob(os.path.join(folder, "*.cf"))):
            with open(path, "rb") as f:
                for raw in f:
                    line = raw.decode("latin-1").rstrip("\r\n")
                    if "#" in line:
                        line = re.sub(r"(?<!\\)#.*$", "", line).replace("\\#", "#")
                    line = line.strip()
                    if line and not line.startswith("lang "):
                        yield line


def split_regex(value):
    """(pattern, flags) of a delimited regex, or None when the value is not one that
    SpamAssassin accepts."""
    if value.startswith("/"):
        body, end = value[1:], "/"
    else:
        m = re.match(r"(?:m|qr)([^\w\s])", value)
        if not m or m.group(1) == "\\":
            return None
        body, end = value[m.end():], MIRROR.get(m.group(1), m.group(1))
    m = re.search(re.escape(end) + r"([a-df-z]*)\Z", body)
    if not m:
        return None
    pattern, flags = body[: m.start()], m.group(1)
    if re.search(r"\(\?\??\{", pattern):
        return None  # code blocks
    if end not in ")]}" and re.search(r"(?<!\\)" + re.escape(end), pattern.replace("\\\\", "")):
        return None  # an unescaped delimiter inside
    return pattern, flags


def expand_tags(pattern, conf):
    """The rule's <TAG> templates replaced the way the tag plugin replaces them."""
    start, end = re.escape(conf["replace_start"]), re.escape(conf["replace_end"])
    for _ in range(6):
        again = False
        names = {}
        for mod in ("pre", "post", "inter"):
            m = re.search(start + mod + " (.+?)" + end, pattern)
            if m:
                names[mod] = m.group(1)
                pattern = pattern[: m.start()] + pattern[m.end():]
        parts = re.split(r"(<[^<>]+>)", pattern)
        while parts and parts[-1] == "":
            parts.pop()  # split drops trailing empty fields
        pre = conf["replace_pre"].get(names.get("pre"))
        post = conf["replace_post"].get(names.get("post"))
        inter = conf["replace_inter"].get(names.get("inter"))
        tag = re.compile("(" + start + ".+?" + end + ")")
        for i, part in enumerate(parts):
            if pre:
                part = tag.sub(lambda m: pre + m.group(1), part, count=1)
            if post:
                part = tag.sub(lambda m: m.group(1) + post, part)
            if inter and part == "" and i > 0:  # the plugin's text starts with "(?aa)"
                part = inter
            m = re.search(start + "(.+?)" + end, part)
            value = conf["replace_tag"].get(m.group(1)) if m else None
            if value:
                part = part.replace(conf["replace_start"] + m.group(1) + conf["replace_end"], value)
                again = again or re.search(r"<[^>]+>", value) is not None
            parts[i] = part
        pattern = "".join(parts)
        if not again:
            break
    return pattern


def read_rules(dirs):
    """(rules by name in order of their last definition, count of body/rawbody/uri rules
    read, reasons left out)."""
    defs = {}
    conf = {"replace_start": "<", "replace_end": ">", "replace_tag": {}, "replace_pre": {},
            "replace_inter": {}, "replace_post": {}, "replace_rules": set()}
    for line in config_lines(dirs):
        key, value = (line.split(None, 1) + [""])[:2]
        key = key.lower().replace("-", "_")
        if key in KINDS or key in REPLACE_KEYS:
            name, text = (value.split(None, 1) + [""])[:2]
            if key in KINDS and name:
                defs.pop(name, None)
                defs[name] = (key, text)
            elif key not in KINDS:
                conf[key][name] = text
        elif key == "replace_rules":
            conf[key].update(value.split())
        elif key in ("replace_start", "replace_end"):
            conf[key] = value
    rules, skipped = [], {"eval": 0, "not a delimited regex": 0, "other flags": 0}
    for name, (kind, text) in defs.items():
        if text.startswith("eval:"):
            skipped["eval"] += 1
            continue
        parsed = split_regex(text)
        if parsed is None:
            skipped["not a delimited regex"] += 1
            continue
        pattern, flags = parsed
        if not set(flags) <= INLINE_FLAGS:
            skipped["other flags"] += 1
            continue
        if name in conf["replace_rules"]:
            pattern = expand_tags(pattern, conf)
        if flags:
            pattern = "(?" + "".join(sorted(set(flags))) + ")" + pattern
        rules.append((name, kind, pattern))
    return rules, len(defs), skipped


def assl_literal(pattern):
    """The pattern as the body of an ASSL string literal, or None when it cannot be one (a
    trailing lone backslash would swallow the closing quote)."""
    out, i = [], 0
    while i < len(pattern):
        c = pattern[i]
        if c == "\\":
            if i + 1 >= len(pattern) or pattern[i + 1] == "\n":
                return None
            out.append(pattern[i : i + 2])
            i += 2
            continue
        out.append('\\"' if c == '"' else c)
        i += 1
    return "".join(out)


class Pcre2:
    """Compiles patterns with libpcre2-8, as the regular-expression library does."""

    def __init__(self):
        self.lib = ctypes.CDLL("libpcre2-8.so.0")
        self.lib.pcre2_compile_8.restype = ctypes.c_void_p
        self.lib.pcre2_compile_8.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint32,
                                             ctypes.POINTER(ctypes.c_int),
                                             ctypes.POINTER(ctypes.c_size_t), ctypes.c_void_p]
        self.lib.pcre2_code_free_8.argtypes = [ctypes.c_void_p]
        self.lib.pcre2_get_error_message_8.argtypes = [ctypes.c_int, ctypes.c_char_p,
                                                       ctypes.c_size_t]

    def compile(self, pattern_bytes):
        """(compiled code or None, error code, error offset)."""
        code, offset = ctypes.c_int(), ctypes.c_size_t()
        compiled = self.lib.pcre2_compile_8(pattern_bytes, len(pattern_bytes), PCRE2_OPTIONS,
                                            ctypes.byref(code), ctypes.byref(offset), None)
        return compiled, code.value, offset.value

    def error(self, pattern_bytes):
        """None when the pattern compiles, else PCRE2's message."""
        compiled, code, offset = self.compile(pattern_bytes)
        if compiled:
            self.lib.pcre2_code_free_8(compiled)
            return None
        text = ctypes.create_string_buffer(256)
        self.lib.pcre2_get_error_message_8(code, text, len(text))
        return "%s at %d" % (text.value.decode(), offset)

    def time_patterns(self, patterns, paths):
        """CPU seconds of JIT matching of each pattern over each file's bytes, as
        [(seconds, index)], slowest first: what the matching alone costs, without any rule
        engine around it."""
        lib = self.lib
        lib.pcre2_jit_compile_8.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
        lib.pcre2_match_data_create_from_pattern_8.restype = ctypes.c_void_p
        lib.pcre2_match_data_create_from_pattern_8.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        lib.pcre2_match_data_free_8.argtypes = [ctypes.c_void_p]
        lib.pcre2_match_8.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t,
                                      ctypes.c_size_t, ctypes.c_uint32, ctypes.c_void_p,
                                      ctypes.c_void_p]
        texts = []
        for path in paths:
            with open(path, "rb") as f:
                texts.append(f.read())
        costs = []
        for index, pattern in enumerate(patterns):
            compiled = self.compile(pattern)[0]
            lib.pcre2_jit_compile_8(compiled, 1)  # PCRE2_JIT_COMPLETE
            data = lib.pcre2_match_data_create_from_pattern_8(compiled, None)
            start = time.process_time()
            for text in texts:
                lib.pcre2_match_8(compiled, text, len(text), 0, 0, data, None)
            costs.append((time.process_time() - start, index))
            lib.pcre2_match_data_free_8(data)
            lib.pcre2_code_free_8(compiled)
        return sorted(costs, reverse=True)


def balanced_or(names):
    """names joined by '|||' as a tree of depth log2(n), under the engine's depth limit."""
    if len(names) == 1:
        return names[0]
    half = len(names) // 2
    return "(%s ||| %s)" % (balanced_or(names[:half]), balanced_or(names[half:]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rules-dir", action="append", help="folder of *.cf rule files")
    parser.add_argument("--every-rule", action="store_true",
                        help="one meta-rule over all rules, so every rule runs on every page")
    parser.add_argument("--rejects", help="write the patterns PCRE2 refuses, with the reason")
    parser.add_argument("--time-mails", metavar="LIST",
                        help="time PCRE2's JIT matching of the kept patterns over the files "
                             "named in LIST (one path a line) and print the slowest")
    parser.add_argument("slf")
    parser.add_argument("cf")
    args = parser.parse_args()

    dirs = args.rules_dir or default_dirs()
    rules, read, skipped = read_rules(dirs)
    pcre2 = Pcre2()
    kept, rejects = [], []
    for name, kind, pattern in rules:
        literal = assl_literal(pattern)
        raw = pattern.encode("latin-1")
        problem = "trailing backslash" if literal is None else pcre2.error(raw)
        if problem:
            rejects.append("%s\t%s\t%s" % (name, problem, pattern))
        else:
            kept.append((name, kind, literal, pattern))

    with open(args.slf, "wb") as slf, open(args.cf, "wb") as cf:
        slf.write(b"/* SpamAssassin's regex rules, converted by bench/sa_to_assl.py */\n")
        cf.write(b"# SpamAssassin's regex rules kept by bench/sa_to_assl.py, score 1 each\n")
        for i, (name, kind, literal, pattern) in enumerate(kept):
            priority = "" if args.every_rule else " priority = %d;" % (len(kept) - i)
            slf.write(('rule %s { condition: match("%s", %s, REGEX); actions: mark("spam", 1); '
                       "metadata:%s }\n" % (name, literal, KINDS[kind], priority))
                      .encode("latin-1"))
            # '#' would start a comment; m{...} needs no escaping of an inner delimiter.
            cf.write(("%s %s m{%s}\nscore %s 1\n" % (kind, name, pattern.replace("#", "\\#"), name))
                     .encode("latin-1"))
        if args.every_rule and kept:
            slf.write(("metarule SaEveryRule { condition: %s; actions: mark(\"spam\", 1); "
                       "metadata: priority = 1; }\n" % balanced_or([k[0] for k in kept]))
                      .encode("latin-1"))
    if args.rejects:
        with open(args.rejects, "wb") as f:
            f.write("".join(r + "\n" for r in rejects).encode("latin-1"))
    left_out = ", ".join("%s %d" % item for item in skipped.items())
    print("rule folders: %s" % " ".join(dirs))
    print("body/rawbody/uri rules read: %d (left out: %s)" % (read, left_out))
    print("regex rules converted: %d" % len(rules))
    print("compiled by PCRE2: %d (refused: %d)" % (len(kept), len(rejects)))
    if args.time_mails:
        with open(args.time_mails) as f:
            paths = f.read().split("\n")
        paths = [p for p in paths if p]
        costs = pcre2.time_patterns([k[3].encode("latin-1") for k in kept], paths)
        total = sum(c[0] for c in costs)
        print("PCRE2 JIT matching alone, every kept pattern over %d files: %.3f CPU s, %.2f ms a file"
              % (len(paths), total, 1000 * total / max(len(paths), 1)))
        for seconds, index in costs[:5]:
            print("  %6.1f%%  %s" % (100 * seconds / total if total else 0, kept[index][0]))
    return 0 if kept else 1


if __name__ == "__main__":
    sys.exit(main())
