#!/usr/bin/env python3
"""Writes deterministic package manifests of a given size for the parser benchmark.

Usage: bench/gen_manifest.py OUTDIR SIZE [SIZE...]
  SIZE is a byte count with an optional K, M or G suffix (powers of 1024),
  e.g. 100K or 10M. Each size gives OUTDIR/manifest-SIZE.xml. The same size
  always gives the same bytes.

The documents look like the manifests Brevick signs: dravanePackage, package,
modules/module with many dependencies, each with destination, signInfo and md5
elements, indented with blanks and CR LF line ends, developer attributes,
comments, and entity and character references in names and paths.
"""

import os
import random
import re
import sys

HOSTS = ["server", "client", "service", "tools"]
DESTINATIONS = ["system", "application", "shared", "resource"]
EXTENSIONS = ["dll", "exe", "ocx", "sys", "dat", "cfg"]
WORDS = ["core", "net", "ui", "data", "crypto", "report", "sync", "store", "print", "help",
         "setup", "agent", "mail", "index", "media", "graph", "audit", "cache"]


def parse_size(text):
    match = re.fullmatch(r"(\d+)([KkMmGg]?)[Bb]?", text)
    if not match:
        raise SystemExit("bad size: " + text)
    number, unit = int(match.group(1)), match.group(2).upper()
    return number * {"": 1, "K": 1024, "M": 1024 ** 2, "G": 1024 ** 3}[unit]


def uuid(rng):
    digits = "%032X" % rng.getrandbits(128)
    return "{%s-%s-%s-%s-%s}" % (digits[:8], digits[8:12], digits[12:16], digits[16:20], digits[20:])


def dependency(rng, module, index):
    word = rng.choice(WORDS)
    name = "%s%03d_%04d.%s" % (word, module, index, rng.choice(EXTENSIONS))
    entry = "yes" if index == 0 else "no"
    lines = [
        '                <dependency name="%s" entryPoint="%s" mode="release" '
        'debugPath="..\\build\\Debug\\%s" releasePath="..\\build\\Release\\%s">' % (name, entry, name, name),
        '                    <destination type="%s">%%ProgramFiles%%\\Dravane\\%s</destination>'
        % (rng.choice(DESTINATIONS), word),
        '                    <signInfo path="%%SourceRoot%%\\bin\\R&amp;D\\%s" size="%d"/>'
        % (name, rng.randrange(1000, 5000000)),
        "                    <md5>0x%032x</md5>" % rng.getrandbits(128),
        "                </dependency>",
    ]
    if index % 7 == 3:
        lines.insert(0, "                <!-- %s: shipped for &lt;%s&gt; clients -->" % (name, rng.choice(HOSTS)))
    return lines


def module(rng, number):
    word = rng.choice(WORDS)
    lines = [
        '        <module name="%s &amp; %s &#x141;&#243;d&#x17A; %03d" uuid="%s" host="%s" subPath="modules\\%s%03d">'
        % (word.capitalize(), rng.choice(WORDS), number, uuid(rng), rng.choice(HOSTS), word, number),
        "            <!-- module %d -->" % number,
        "            <dependencies>",
    ]
    for index in range(rng.randrange(8, 40)):
        lines += dependency(rng, number, index)
    lines += ["            </dependencies>", "        </module>"]
    return lines


def manifest(size):
    rng = random.Random(size)
    head = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        "<!-- Package manifest for the parser benchmark: %d bytes -->" % size,
        "<dravanePackage>",
        '    <package name="Dravane Suite &quot;Bench&quot;" uuid="%s"/>' % uuid(rng),
        "    <modules>",
    ]
    tail = ["    </modules>", "</dravanePackage>", ""]
    parts = ["\r\n".join(head)]
    total = len(parts[0])
    number = 1
    while total < size:
        chunk = "\r\n" + "\r\n".join(module(rng, number))
        parts.append(chunk)
        total += len(chunk)
        number += 1
    parts.append("\r\n" + "\r\n".join(tail))
    return "".join(parts).encode("utf-8")


def main(argv):
    if len(argv) < 3:
        raise SystemExit(__doc__)
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    for text in argv[2:]:
        path = os.path.join(outdir, "manifest-%s.xml" % text)
        with open(path, "wb") as out:
            out.write(manifest(parse_size(text)))
        print(path)


if __name__ == "__main__":
    main(sys.argv)
