#!/usr/bin/env python3
# Every relative link and image in README.md and docs/*.md points at a file
# that exists, and every #anchor at a heading of that file (GitHub's rule).
import re, glob, os, sys
root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
def anchors(path):
    out = set()
    for line in open(path):
        m = re.match(r'#+\s+(.*)', line)
        if m:
            a = m.group(1).strip().lower()
            a = re.sub(r'[^\w\- ]', '', a).replace(' ', '-')
            out.add(a)
    return out
bad = 0; count = 0
for f in [root + '/README.md'] + sorted(glob.glob(root + '/docs/*.md')):
    text = open(f).read()
    text = re.sub(r'```.*?```', '', text, flags=re.S)
    for target in re.findall(r'\]\(([^)\s]*)\)', text):
        count += 1
        if re.match(r'[a-z]+:', target):
            print('absolute', f, target); bad += 1; continue
        path, _, anchor = target.partition('#')
        dest = os.path.normpath(os.path.join(os.path.dirname(f), path)) if path else f
        if not os.path.exists(dest):
            print('no file  ', os.path.relpath(f, root), target); bad += 1; continue
        if anchor and anchor not in anchors(dest):
            print('no anchor', os.path.relpath(f, root), target); bad += 1
print(f"{count} links, {bad} broken")
sys.exit(1 if bad else 0)
