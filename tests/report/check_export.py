#!/usr/bin/env python3
"""Reads an exported report with independent readers and prints what a person
would check, as JSON on stdout.

  check_export.py rtf FILE   {"text": plain text by unrtf}
  check_export.py csv FILE   {"rows": rows by Python's csv module, ";" and Windows-1252}
  check_export.py html FILE  {"texts", "images", "external", "unclosed", "ids", "styles", "doctype"}

html: texts are the text nodes in document order; images the sizes of the
embedded PNG pictures (from <img src="data:..."> and CSS url(data:...));
external every reference to another file (src, href or url() that is not
data:); unclosed the elements left open or closed out of order.
"""
import base64
import csv
import html
import io
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
from html.parser import HTMLParser

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    w, h = struct.unpack(">II", data[16:24])
    return [w, h]


def data_png(url):
    m = re.match(r"data:image/png;base64,(.*)$", url, re.S)
    if not m:
        return None
    return png_size(base64.b64decode(m.group(1), validate=True))


class Reader(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.texts, self.images, self.external, self.ids = [], [], [], []
        self.stack, self.unclosed, self.styles, self.doctype = [], [], 0, ""
        self.in_style = False

    def handle_decl(self, decl):
        self.doctype = decl

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.append(a["id"])
        for key in ("src", "href"):
            if key in a:
                size = data_png(a[key])
                if size is None:
                    self.external.append(a[key][:80])
                else:
                    self.images.append(size)
        if "style" in a:
            self.css(a["style"])
        if tag == "style":
            self.styles += 1
            self.in_style = True
        if tag not in VOID:
            self.stack.append(tag)

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in VOID and self.stack and self.stack[-1] == tag:
            self.stack.pop()

    def handle_endtag(self, tag):
        if tag == "style":
            self.in_style = False
        if self.stack and self.stack[-1] == tag:
            self.stack.pop()
        else:
            self.unclosed.append("/" + tag)

    def css(self, text):
        for url in re.findall(r"url\(([^)]*)\)", text):
            url = url.strip("'\" ")
            size = data_png(url)
            if size is None:
                self.external.append(url[:80])
            else:
                self.images.append(size)

    def handle_data(self, data):
        if self.in_style:
            self.css(data)
        elif data.strip():
            self.texts.append(data)


def main():
    kind, path = sys.argv[1], sys.argv[2]
    if kind == "rtf":
        # unrtf's text mode maps some Windows-1252 characters (the euro
        # sign) wrongly; its HTML mode writes them as entities. --nopict: no
        # picture files in the working folder.
        with tempfile.TemporaryDirectory() as scratch:
            out = subprocess.run(["unrtf", "--html", "--nopict", os.path.abspath(path)], capture_output=True,
                                 check=True, cwd=scratch).stdout.decode("utf-8", "replace")
        body = out[out.find("<body"):]
        body = re.sub(r"<br\s*/?>|</p>|</div>", "\n", body)
        lines = html.unescape(re.sub(r"<[^>]*>", "", body)).splitlines()
        print(json.dumps({"text": "\n".join(lines)}))
    elif kind == "csv":
        with open(path, encoding="cp1252", newline="") as f:
            rows = list(csv.reader(f, delimiter=";"))
        print(json.dumps({"rows": rows}))
    elif kind == "html":
        raw = open(path, "rb").read()
        r = Reader()
        r.feed(raw.decode("utf-8"))
        r.close()
        print(json.dumps({"texts": r.texts, "images": r.images, "external": r.external,
                          "unclosed": r.unclosed + r.stack, "ids": r.ids, "styles": r.styles,
                          "doctype": r.doctype}))
    else:
        sys.exit("unknown kind " + kind)


if __name__ == "__main__":
    main()
