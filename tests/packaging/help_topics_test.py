#!/usr/bin/env python3
"""Every help topic the program opens has a page that says something.

Walks the sources as they are at test time (so windows added later are checked
too), finds every ShowHelpTopic call and tells its topic number: a literal, a
named constant ("constexpr int kHelpTopic = 1021;"), or either branch of a
conditional. A call whose topic cannot be told fails the test, since nobody
could check its page. Then checks, for the program's help set (data/help/qn)
and the problem solver's (data/help/faxps): each topic's page exists, has a
title and some text, and every link between pages leads to an existing page.

usage: help_topics_test.py SOURCE_DIR     check the tree
       help_topics_test.py --self-test    check the scanner on small samples
"""
import html.parser
import os
import re
import sys

CALL = re.compile(r"\bShowHelpTopic\s*\(")
SOURCE_SUFFIXES = (".cpp", ".h", ".hpp", ".cc")
MIN_WORDS = 12


def call_arguments(text):
    """(line, argument text) of every ShowHelpTopic call, declarations left out."""
    for m in CALL.finditer(text):
        depth, i = 1, m.end()
        while i < len(text) and depth:
            depth += {"(": 1, ")": -1}.get(text[i], 0)
            i += 1
        arg = text[m.end():i - 1].strip()
        if re.match(r"^(const\s+)?int\b", arg) or re.match(r"^\w+\s+\w+$", arg):
            continue  # the function's own declaration or definition
        yield text.count("\n", 0, m.start()) + 1, arg


def constant_value(name, texts):
    """The integer a named constant is set to, looked up in the given texts."""
    bare = name.split("::")[-1]
    pattern = re.compile(r"\b" + re.escape(bare) + r"\s*(?:=|\{)\s*(\d+)\s*[;},]")
    for text in texts:
        m = pattern.search(text)
        if m:
            return int(m.group(1))
    return None


def topics_of(arg, texts):
    """The topic numbers an argument expression can have, or None when unknown."""
    arg = arg.strip()
    while arg.startswith("(") and arg.endswith(")"):
        arg = arg[1:-1].strip()
    if re.fullmatch(r"\d+", arg):
        return [int(arg)]
    if re.fullmatch(r"[A-Za-z_][\w:]*", arg):
        value = constant_value(arg, texts)
        return None if value is None else [value]
    # cond ? a : b (the branches may nest)
    m = re.fullmatch(r"(.+?)\?(.+)", arg, re.S)
    if m:
        branches = re.split(r"(?<!:):(?!:)", m.group(2), maxsplit=1)
        if len(branches) == 2:
            out = []
            for b in branches:
                got = topics_of(b, texts)
                if got is None:
                    return None
                out += got
            return out
    return None


def scan(source_dir):
    """({topic: [where]}, [unresolved call], problem solver used)."""
    files = {}
    for root, _, names in os.walk(os.path.join(source_dir, "src")):
        for n in names:
            if n.endswith(SOURCE_SUFFIXES):
                path = os.path.join(root, n)
                with open(path, encoding="utf-8", errors="replace") as f:
                    files[os.path.relpath(path, source_dir)] = f.read()
    topics, unresolved, solver = {}, [], False
    for path, text in sorted(files.items()):
        if path.startswith(os.path.join("src", "common", "help.")):
            continue  # the help window itself: its topics are the contents pages checked below
        if re.search(r"\bShowProblemSolver\s*\(\s*\)", text):
            solver = True
        others = [t for p, t in files.items() if p != path]
        for line, arg in call_arguments(text):
            got = topics_of(arg, [text] + others)
            where = f"{path}:{line}"
            if got is None:
                unresolved.append(f"{where}: ShowHelpTopic({arg})")
            for t in got or []:
                topics.setdefault(t, []).append(where)
    return topics, unresolved, solver


class PageReader(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.title, self.words, self.links, self._in = "", 0, [], None

    def handle_starttag(self, tag, attrs):
        self._in = tag
        if tag == "a":
            self.links += [v for k, v in attrs if k == "href" and v]

    def handle_data(self, data):
        if self._in == "title":
            self.title += data.strip()
        elif self._in not in ("script", "style"):
            self.words += len(data.split())


def read_page(path):
    reader = PageReader()
    with open(path, encoding="utf-8") as f:
        reader.feed(f.read())
    return reader


def check_pages(help_dir, wanted):
    """Problems with the pages of the topics wanted ({set: {topic: [where]}})."""
    problems = []
    for help_set, topics in wanted.items():
        for topic, where in sorted(topics.items()):
            page = os.path.join(help_dir, help_set, f"{topic}.html")
            if not os.path.isfile(page):
                problems.append(f"no page {help_set}/{topic}.html for the help opened at {', '.join(where)}")
                continue
            r = read_page(page)
            if not r.title or r.words < MIN_WORDS:
                problems.append(f"{help_set}/{topic}.html has no title or next to no text ({r.words} words)")
    # Links between the pages (the problem solver's and the program's pages link each other).
    for root, _, names in os.walk(help_dir):
        for n in sorted(names):
            if not n.endswith(".html"):
                continue
            for link in read_page(os.path.join(root, n)).links:
                if re.match(r"^[a-z]+:", link) or link.startswith("#"):
                    continue
                target = os.path.normpath(os.path.join(root, link.split("#")[0]))
                if not os.path.isfile(target):
                    problems.append(f"{os.path.relpath(os.path.join(root, n), help_dir)} links to missing {link}")
    return problems


def check_tree(source_dir):
    topics, unresolved, solver = scan(source_dir)
    if not topics:
        return ["no ShowHelpTopic call found in the sources: the scanner or the tree is wrong"]
    # The help window's Contents button opens 1009 (program) or 1 (problem solver),
    # and a topic without a page falls back to missing.html.
    wanted = {"qn": dict(topics), "faxps": {}}
    wanted["qn"].setdefault(1009, []).append("the Contents button")
    if solver:
        wanted["faxps"][1] = ["ShowProblemSolver"]
    problems = [f"cannot tell the topic of {u} (use a literal or a named constant)" for u in unresolved]
    help_dir = os.path.join(source_dir, "data", "help")
    for help_set in wanted:
        if not os.path.isfile(os.path.join(help_dir, help_set, "missing.html")):
            problems.append(f"no {help_set}/missing.html for topics without a page")
    problems += check_pages(help_dir, wanted)
    print("help topics opened: " + ", ".join(str(t) for t in sorted(topics)))
    return problems


def self_test():
    sample = """
      constexpr int kEditorHelpTopic = 1029;
      static const int kOther{1030};
      void ShowHelpTopic(int topic);
      void f() { ShowHelpTopic(1016); qn::ShowHelpTopic(kEditorHelpTopic); }
      void g(int page) { ShowHelpTopic(page == 1 ? 3501 : (page < 5 ? 3502 : kOther)); }
      void h(int t) { ShowHelpTopic(t + 1); }
    """
    calls = list(call_arguments(sample))
    got = [topics_of(arg, [sample]) for _, arg in calls]
    expected = [[1016], [1029], [3501, 3502, 1030], None]
    if got != expected:
        return [f"scanner found {got}, expected {expected}"]
    if [line for line, _ in calls] != [5, 5, 6, 7]:
        return [f"scanner placed the calls on lines {[line for line, _ in calls]}"]
    return []


def main():
    if len(sys.argv) == 2 and sys.argv[1] == "--self-test":
        problems = self_test()
    elif len(sys.argv) == 2:
        problems = check_tree(sys.argv[1])
    else:
        sys.exit(__doc__)
    for p in problems:
        print("FAIL: " + p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
