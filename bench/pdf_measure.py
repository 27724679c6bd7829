#!/usr/bin/env python3
"""How closely a PDF of a MacWrite 4.6/5 document follows the layout the
document records.

The document is read here on its own (not through mwconv): each main-text
paragraph's page, top and line heights from its information entry and the
line-height array, its text for finding it, and the print record's page.
The PDF is read through `pdftotext -bbox-layout` (every line's page and
position), `pdfinfo`, and `qpdf --json` for its pictures: the page content
inside each `Figure` tag is followed (transformations, paths, images, forms)
to the box of what it draws.

    pdf_measure.py DOCUMENT PDF [--text TEXT] [--json] [--check]

Prints the stored and the PDF's page counts, and the share of paragraphs on
their stored page, within 2 points of their stored top, and with their
stored number of lines, and how many pictures lie within 2 points of their
stored rectangle (its left and size from the picture paragraph, its top and
page from the paragraph's information entry).  A document that MacWrite did not lay out (every top
and page 0) has nothing to measure but its page count.  With --text (the
document's text output), also the words of the main text that the PDF does
not show in their order.  --check also asks pdffonts, qpdf and pdfinfo, and
exits with status 1, saying why, when the PDF falls short: the stored page
count, every paragraph on its stored page, 95 % within 2 points of their
tops, 98 % with their stored line counts, no word missing or out of order,
every font embedded, qpdf finding nothing, the document tagged, every
picture in place.
"""
import base64
import json
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

NIBBLES = " etnroaisdlhcfp"
PAGE_BREAK_LENGTH = 22  # the data of a picture paragraph that breaks the page


def be16(d, at):
    return struct.unpack(">h", d[at:at + 2])[0]


def ube16(d, at):
    return struct.unpack(">H", d[at:at + 2])[0]


def ube32(d, at):
    return struct.unpack(">I", d[at:at + 4])[0]


def expand_lines(codes):
    lines = []
    for b in codes:
        if b < 0x80:
            lines.append(b)
        elif lines and (b & 0x7F) > 1:
            lines += [lines[-1]] * ((b & 0x7F) - 1)
    return lines


def paragraph_text(d, at, compressed):
    n = ube16(d, at)
    body = d[at + 2:]
    if not compressed:
        return body[:n].decode("mac_roman", "replace")
    out, i = [], 0
    nib = lambda k: (body[k // 2] >> (0 if k % 2 else 4)) & 15 if k // 2 < len(body) else 0
    while len(out) < n:
        v = nib(i)
        i += 1
        if v == 15:
            out.append(bytes([nib(i) << 4 | nib(i + 1)]).decode("mac_roman"))
            i += 2
        else:
            out.append(NIBBLES[v])
    return "".join(out)


def area(d, count_at, window_at):
    count = ube16(d, count_at)
    w = d[window_at:window_at + 46]
    info = ube32(w, 12)
    lh_at, lh_len = ube32(w, 18), ube16(w, 22)
    records, i = [], lh_at
    while len(records) < count and i + 2 <= lh_at + lh_len:
        n = ube16(d, i)
        records.append(expand_lines(d[i + 2:i + 2 + n]))
        i += 2 + n + (n & 1)
    paras = []
    for k in range(count):
        e = d[info + 16 * k:info + 16 * k + 16]
        height, top, page = be16(e, 0), be16(e, 2), e[4]
        data = ube32(e, 8) & 0xFFFFFF
        text = paragraph_text(d, data, e[8] & 0x08) if height > 0 else ""
        para = {"height": height, "top": top, "page": page, "text": text,
                "lines": records[k] if k < len(records) else []}
        # A picture's rectangle (top, left, bottom, right): its left counts
        # from the page rectangle's; its top is the entry's, not this one's.
        if height < 0 and ube16(e, 12) != PAGE_BREAK_LENGTH:
            para["rect"] = [be16(d, data + 2 * i) for i in range(4)]
        paras.append(para)
    return paras


def document(path):
    d = open(path, "rb").read()
    if d[0] == 0 and d[65:69] == b"WORD":
        d = d[128:]
    rec = d[40:160]
    vres, hres = be16(rec, 4), be16(rec, 6)
    page = [be16(rec, 8 + 2 * i) for i in range(4)]
    paper = [be16(rec, 16 + 2 * i) for i in range(4)]
    sane = 36 <= vres <= 1200 and 36 <= hres <= 1200
    page_height = (page[2] - page[0]) * 72.0 / vres if sane else 0
    inside = paper[0] <= page[0] and paper[2] >= page[2] and paper[1] <= page[1] and paper[3] >= page[3]
    paper_height = (paper[2] - paper[0]) * 72.0 / vres if sane else 0
    page_width = (page[3] - page[1]) * 72.0 / hres if sane else 0
    paper_width = (paper[3] - paper[1]) * 72.0 / hres if sane else 0
    if sane and inside and 72 <= paper_height <= 48 * 72 and 72 <= paper_width <= 48 * 72:
        top_margin = (page[0] - paper[0]) * 72.0 / vres
        left_margin = (page[1] - paper[1]) * 72.0 / hres
    elif 0 < page_height <= 792 and 0 < page_width <= 612:
        # A record that makes no sense: the page centred on US Letter.
        top_margin, left_margin = (792 - page_height) / 2, (612 - page_width) / 2
    else:
        top_margin, page_height, left_margin = 72.0, 648.0, 72.0

    def room(count_at, window_at):
        """An area takes room when it shows something: characters, a
        picture, or a placed field (a pair of the window record at +24 that
        is neither negative nor zeros)."""
        paras = area(d, count_at, window_at)
        pairs = [(be16(d, window_at + 24 + 4 * k), be16(d, window_at + 26 + 4 * k)) for k in range(3)]
        fields = any(v >= 0 and h >= 0 and (v, h) != (0, 0) for v, h in pairs)
        shows = fields or any(p["text"].strip() or p["height"] < 0 for p in paras)
        return sum(abs(p["height"]) for p in paras) if shows else 0

    return {"main": area(d, 2, 252), "margin_top": top_margin, "margin_left": left_margin, "page_height": page_height,
            "header": room(4, 206), "footer": room(6, 160), "title_page": d[8] != 0}


def pdf_lines(pdf):
    xml = subprocess.run(["pdftotext", "-bbox-layout", pdf, "-"], check=True, capture_output=True).stdout
    xml = re.sub(rb"<!DOCTYPE[^>]*>", b"", xml)
    root = ET.fromstring(xml)
    pages = []
    for page in root.iter("{http://www.w3.org/1999/xhtml}page"):
        lines = []
        for line in page.iter("{http://www.w3.org/1999/xhtml}line"):
            words = [(float(w.get("xMin")), w.text or "") for w in line.iter("{http://www.w3.org/1999/xhtml}word")]
            y, bottom = float(line.get("yMin")), float(line.get("yMax"))
            # Pieces of one line come as lines of their own: those that tabs
            # set apart (the same top), and a glyph much taller than the
            # text beside it, such as the Apple logo (one box holds the other).
            same = [l for l in lines if abs(l["y"] - y) < 1.0 or
                    (l["y"] - 1 <= y and bottom <= l["bottom"] + 1) or (y - 1 <= l["y"] and l["bottom"] <= bottom + 1)]
            if same:
                same[0]["pieces"] += words
                same[0]["x"] = min(same[0]["x"], float(line.get("xMin")))
                same[0]["y"], same[0]["bottom"] = min(same[0]["y"], y), max(same[0]["bottom"], bottom)
            else:
                lines.append({"y": y, "bottom": bottom, "x": float(line.get("xMin")), "pieces": words})
        for l in lines:
            l["words"] = [text for _, text in sorted(l.pop("pieces"), key=lambda w: w[0])]
        lines.sort(key=lambda l: (l["y"], l["x"]))
        pages.append(lines)
    return pages


TOKEN = re.compile(rb"\s*(?:(%[^\r\n]*)|(\()|(<<|>>|\[|\]|\{|\})|(<[0-9A-Fa-f\s]*>)|(/[^\s/<>\[\]()\{\}%]*)"
                   rb"|([^\s/<>\[\]()\{\}%]+))")
NUMBER = re.compile(rb"[-+.\d]+|true|false|null")
PAINT = {b"f", b"F", b"f*", b"S", b"s", b"B", b"B*", b"b", b"b*"}


def content_tokens(data):
    """A content stream's tokens: ("op", word) or ("val", word); strings
    and inline images' data are passed over."""
    at = 0
    while True:
        m = TOKEN.match(data, at)
        if not m or m.end() == at:
            return
        at = m.end()
        if m.group(1):
            continue
        if m.group(2):
            depth = 1
            while at < len(data) and depth:
                c = data[at:at + 1]
                at += 2 if c == b"\\" else 1
                depth += (c == b"(") - (c == b")")
            yield "val", b"()"
            continue
        word = m.group(3) or m.group(4) or m.group(5) or m.group(6)
        if word == b"ID":
            end = re.compile(rb"\sEI(?=\s|$)").search(data, at + 1)
            at = end.end() if end else len(data)
            yield "op", b"EI"
            continue
        yield ("op" if m.group(6) and not NUMBER.fullmatch(word) else "val"), word


def multiply(a, b):
    return [a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2],
            a[2] * b[1] + a[3] * b[3], a[4] * b[0] + a[5] * b[2] + b[4], a[4] * b[1] + a[5] * b[3] + b[5]]


def through(m, x, y):
    return m[0] * x + m[2] * y + m[4], m[1] * x + m[3] * y + m[5]


def figure_boxes(pdf):
    """Each Figure's page (from 0) and the box of what it draws, as
    [left, top, right, bottom] in points from the page's top left."""
    j = json.loads(subprocess.run(["qpdf", "--json=2", "--json-key=pages", "--json-key=qpdf",
                                   "--json-stream-data=inline", "--decode-level=generalized", pdf],
                                  check=True, capture_output=True).stdout)
    objects = j["qpdf"][1]

    def resolve(v):
        while isinstance(v, str) and v.endswith(" R"):
            o = objects["obj:" + v]
            v = o["value"] if "value" in o else o["stream"]["dict"]
        return v

    figures = []
    for number, page in enumerate(j["pages"]):
        info = resolve(page["object"])
        height = float(resolve(info["/MediaBox"])[3])
        xobjects = resolve(resolve(info.get("/Resources", {})).get("/XObject", {}))
        content = b"".join(base64.b64decode(objects["obj:" + c]["stream"]["data"]) for c in page["contents"])

        def extend(points):
            box = figures[-1][1]
            for x, y in points:
                y = height - y
                box[:] = [min(box[0], x), min(box[1], y), max(box[2], x), max(box[3], y)] if box else [x, y, x, y]

        ctm, saved, path, operands, marks = [1, 0, 0, 1, 0, 0], [], [], [], []
        for kind, word in content_tokens(content):
            if kind == "val":
                operands.append(word)
                continue
            numbers = lambda n: [float(v) for v in operands[-n:]]
            inside = any(marks)
            if word == b"q":
                saved.append(ctm)
            elif word == b"Q" and saved:
                ctm = saved.pop()
            elif word == b"cm":
                ctm = multiply(numbers(6), ctm)
            elif word in (b"BDC", b"BMC"):
                marks.append(bool(operands) and operands[0] == b"/Figure")
                if marks[-1]:
                    figures.append((number, []))
            elif word == b"EMC" and marks:
                marks.pop()
            elif word in (b"m", b"l", b"c", b"v", b"y"):
                n = numbers({b"m": 2, b"l": 2, b"c": 6, b"v": 4, b"y": 4}[word])
                path += [through(ctm, n[i], n[i + 1]) for i in range(0, len(n), 2)]
            elif word == b"re":
                x, y, w, h = numbers(4)
                path += [through(ctm, x + dx, y + dy) for dx in (0, w) for dy in (0, h)]
            elif word in PAINT or word == b"n":
                if inside and word != b"n":  # a clip alone draws nothing
                    extend(path)
                path = []
            elif word in (b"Do", b"EI") and inside:
                form = resolve(xobjects.get(operands[-1].decode())) if word == b"Do" else None
                if isinstance(form, dict) and form.get("/Subtype") == "/Form":
                    m = multiply([float(v) for v in form.get("/Matrix", [1, 0, 0, 1, 0, 0])], ctm)
                    x0, y0, x1, y1 = (float(v) for v in resolve(form["/BBox"]))
                    extend([through(m, x, y) for x in (x0, x1) for y in (y0, y1)])
                else:  # an image fills the unit square
                    extend([through(ctm, x, y) for x in (0, 1) for y in (0, 1)])
            operands = []
    return figures


def pictures_in_place(doc, pdf):
    """How many of the main text's pictures the PDF draws, in their order,
    on their stored page within 2 points of their stored rectangle."""
    stored = [p for p in doc["main"] if "rect" in p]
    drawn = [f for f in figure_boxes(pdf) if f[1]]
    near = 0
    for p, (page, box) in zip(stored, drawn):
        top, left, bottom, right = p["rect"]
        x, y = doc["margin_left"] + left, doc["margin_top"] + p["top"]
        want = [x, y, x + right - left, y + bottom - top]
        near += page == p["page"] and all(abs(a - b) <= 2 for a, b in zip(box, want))
    return len(stored), len(drawn), near


def squeezed(words):
    return "".join("".join(words).split())


def starts(line, text):
    """Whether a PDF line starts with the paragraph's first characters (a
    glyph drawn as a missing-glyph box may stand before them)."""
    head = squeezed([text])[:16]
    return 0 <= squeezed(line["words"]).find(head) <= 4


def measure(doc_path, pdf):
    doc = document(doc_path)
    pages = pdf_lines(pdf)
    paras = [p for p in doc["main"] if p["height"] > 0]
    laid = any(p["page"] or p["top"] for p in doc["main"])
    stored_pages = max((p["page"] for p in doc["main"]), default=0) + 1
    result = {"pages": len(pages), "stored_pages": stored_pages if laid else None}
    if not laid:
        return result
    # The main text's lines, page by page, in order; the header's and the
    # footer's rooms are left out.
    flow = []
    for number, lines in enumerate(pages):
        furniture = not (doc["title_page"] and number == 0)
        top = doc["margin_top"] + (doc["header"] if furniture else 0) - 1
        bottom = doc["margin_top"] + doc["page_height"] - (doc["footer"] if furniture else 0) - 1
        # Text drawn in a picture is the picture's.
        pictures = [(doc["margin_top"] + p["top"], doc["margin_top"] + p["top"] - p["height"])
                    for p in doc["main"] if p["height"] < 0 and p["page"] == number]
        flow += [dict(l, page=number) for l in lines
                 if top <= l["y"] < bottom and l["words"] and not any(a - 1 <= l["y"] < b for a, b in pictures)]
    found, on_page, on_top, same_lines, cursor = [], 0, 0, 0, 0
    shown = [p for p in paras if p["text"].strip()]
    for p in shown:
        at = next((i for i in range(cursor, min(cursor + 60, len(flow))) if starts(flow[i], p["text"])), None)
        found.append(at)
        if at is not None:
            cursor = at + 1
    for k, p in enumerate(shown):
        at = found[k]
        if at is None:
            continue
        line = flow[at]
        on_page += line["page"] == p["page"]
        on_top += line["page"] == p["page"] and abs(line["y"] - (doc["margin_top"] + p["top"])) <= 2
        following = next((found[j] for j in range(k + 1, len(shown)) if found[j] is not None), len(flow))
        same_lines += following - at == len(p["lines"])
    n = len(shown)
    result.update({"paragraphs": n, "found": sum(a is not None for a in found),
                   "on_page": on_page / n if n else 1.0, "top_within_2pt": on_top / n if n else 1.0,
                   "same_lines": same_lines / n if n else 1.0})
    result["pictures"], result["figures"], result["pictures_in_place"] = pictures_in_place(doc, pdf)
    return result


def words_out_of_order(doc_path, pdf, text_path):
    """Words of the text output's main text that the PDF's text does not
    hold in the same order (the header's and the footer's words, which the
    text output gives once and the PDF on every page, are left out)."""
    doc = open(doc_path, "rb").read()
    drop = "\uf8ff"  # the Apple logo, which no font has
    text = open(text_path, encoding="utf-8").read().replace(drop, "")
    pdf_text = subprocess.run(["pdftotext", "-raw", pdf, "-"], check=True, capture_output=True).stdout.decode()
    # Lines may break inside a word (at a hyphen, or a word wider than the
    # line): words are looked for in the PDF's text without its spaces.
    ours = "".join(pdf_text.split())
    d = document(doc_path)
    main_words = " ".join(p["text"] for p in d["main"]).replace(drop, "").split()
    words = text.split()
    # The main text is where its first words stand in the text output.
    start = next((i for i in range(len(words)) if words[i:i + 3] == main_words[:3]), 0)
    words = [w for w in words[start:start + len(main_words)] if not re.fullmatch(r"\[picture|\d+\]", w)]
    missing, at = 0, 0
    for w in words:
        found = ours.find(w, at)
        if found < 0:
            missing += 1
        else:
            at = found + len(w)
    return missing


def tool(*args):
    return subprocess.run(list(args), capture_output=True, text=True)


def check(r, pdf):
    faults = []
    if r.get("stored_pages") is not None and r["pages"] != r["stored_pages"]:
        faults.append(f"{r['pages']} pages, stored {r['stored_pages']}")
    for key, least in (("on_page", 1.0), ("top_within_2pt", 0.95), ("same_lines", 0.98)):
        if key in r and r[key] < least:
            faults.append(f"{key} {r[key]:.3f} < {least}")
    if r.get("pictures", 0) != r.get("figures", 0):
        faults.append(f"{r['figures']} figures drawn for {r['pictures']} pictures")
    if r.get("pictures_in_place", 0) < r.get("pictures", 0):
        faults.append(f"{r['pictures'] - r['pictures_in_place']} pictures more than 2 points from their rectangles")
    if r.get("words_missing"):
        faults.append(f"{r['words_missing']} words missing or out of order")
    fonts = tool("pdffonts", pdf).stdout.splitlines()[2:]
    if any(line.split()[-5] != "yes" for line in fonts):
        faults.append("a font is not embedded")
    q = tool("qpdf", "--check", pdf)
    if q.returncode != 0:
        faults.append("qpdf: " + q.stdout.strip().splitlines()[-1])
    if "Tagged:          yes" not in tool("pdfinfo", pdf).stdout:
        faults.append("not tagged")
    return faults


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if len(args) < 2:
        sys.exit(__doc__)
    r = measure(args[0], args[1])
    if "--text" in sys.argv:
        r["words_missing"] = words_out_of_order(args[0], args[1], sys.argv[sys.argv.index("--text") + 1])
    if "--check" in sys.argv:
        faults = check(r, args[1])
        if faults:
            sys.exit(f"{args[1]}: " + "; ".join(faults))
    if "--json" in sys.argv:
        print(json.dumps(r))
    else:
        for k, v in r.items():
            print(f"{k}: {v:.3f}" if isinstance(v, float) else f"{k}: {v}")


if __name__ == "__main__":
    main()
