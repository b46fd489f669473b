#!/usr/bin/env python3
"""Writes deterministic package manifests of a given size for the parser benchmark.

Usage: bench/gen_manifest.py OUTDIR SIZE [SIZE...]
  SIZE is a byte count with an optional K, M or G suffix (powers of 1024),
  e.g. 100K or 10M. Each size gives OUTDIR/manifest-SIZE.xml. The same size
  always gives the same bytes.

Usage: bench/gen_manifest.py --package PATH MODULES MB [PER_DIR]
  A manifest for a whole signing run: MODULES modules of one dependency
  each, padded by descriptions to MB megabytes (0: no descriptions, the
  smallest manifest). Without PER_DIR module i names files/m%05d (the names
  `split -a 5 -d` gives); with it, files/dN/m%07d, PER_DIR files in each
  directory dN (N = i // PER_DIR), for counts one directory cannot hold well.

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


def package(path, modules, mb, per_dir):
    pad = max(0, int(mb * 1_000_000 / modules) - 700) if mb > 0 else 0
    with open(path, "w") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<dravanePackage>\n')
        out.write(' <package name="Bench" id="{00000000-0000-0000-0000-000000000000}" mode="debug">\n'
                  ' <modules>\n')
        for i in range(modules):
            sub, file = ("files", "m%05d" % i) if per_dir == 0 else \
                ("files\\d%d" % (i // per_dir), "m%07d" % i)
            out.write(f'  <module name="Module {i}" id="{{{i:08X}-0000-4000-8000-000000000000}}" host="Engine"'
                      f' subPath="{sub}" debugPath="obj\\Debug\\{i}" releasePath="obj\\Release\\{i}">\n')
            out.write('   <dependencies>\n')
            out.write(f'    <dependency file="{file}" entryPoint="1">\n')
            out.write('     <destination value="local"/>\n     <md5/>\n    </dependency>\n')
            out.write('   </dependencies>\n')
            if mb > 0:
                out.write(f'   <description lang="en">{("Module &amp; notes " * (pad // 18 + 1))[:pad]}'
                          '</description>\n')
            out.write('  </module>\n')
        out.write(' </modules>\n </package>\n</dravanePackage>\n')


def main(argv):
    if len(argv) >= 5 and argv[1] == "--package":
        package(argv[2], int(argv[3]), float(argv[4]), int(argv[5]) if len(argv) > 5 else 0)
        return
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
