#!/usr/bin/env python3
"""Checks the toolkit package the wizard ships and the recorded hashes of the earlier video
workspace.

    check_toolkit.py TOOLKIT LEGACY_WORKSPACE [unittest options]

TOOLKIT is resources/toolkit: "common" (every role's files), "profiles/<role>" and
"video-legacy-mac-hashes.json". LEGACY_WORKSPACE is the video workspace an earlier release
placed, whose files the hashes must describe exactly.

Besides the layout rules the loader enforces, it installs every role's workspace into a
temporary folder (with a space in its path, scripts made executable as the wizard does) and
runs every shipped script there on inputs it makes itself. The video scripts' runs need
ffmpeg and ffprobe and are skipped, with a message, only when those are absent.
"""

import ast
import csv
import hashlib
import io
import json
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib
from datetime import date, timedelta

TOOLKIT = ""
LEGACY = ""

ROLES = ("developer", "analyst", "designer", "manager", "video")
TOP_LEVEL = {"common", "profiles", "video-legacy-mac-hashes.json"}
LEGACY_HASHES = "video-legacy-mac-hashes.json"
MARKER = ".orvek-profile.json"
SKILLS_PREFIX = ".opencode/skills/"
SKILL_NAME = re.compile(r"^[a-z0-9]+(-[a-z0-9]+)*$")
VIDEO_SKILLS = ("orvek-video-director", "orvek-video-edit", "orvek-video-generate")
TEXT_EXTENSIONS = (".md", ".csv", ".json", ".jsonc", ".sh", ".py", ".txt")
PORTABLE_NAME = re.compile(r"^\.?[A-Za-z0-9][A-Za-z0-9._-]*$")
SHA256 = re.compile(r"^[0-9a-f]{64}$")
PACKAGE_LIMIT = 1024 * 1024

# Shipped scripts by package path (relative to TOOLKIT).
EDIT = "profiles/video/.opencode/skills/orvek-video-edit/scripts/"
PROBE = EDIT + "probe.py"
CUT = EDIT + "cut.sh"
PROXY = EDIT + "proxy.sh"
SHEET = EDIT + "contact_sheet.sh"
CONCAT = EDIT + "concat.sh"
GIT_SUMMARY = "profiles/developer/.opencode/skills/orvek-dev-review/scripts/git_summary.sh"
PROFILE_CSV = "profiles/analyst/.opencode/skills/orvek-analyst-data-check/scripts/profile_csv.py"
ASSET_REPORT = "profiles/designer/.opencode/skills/orvek-design-assets/scripts/asset_report.py"
TASKS_SUMMARY = "profiles/manager/.opencode/skills/orvek-pm-status/scripts/tasks_summary.py"

HAVE_FFMPEG = bool(shutil.which("ffmpeg") and shutil.which("ffprobe"))
NO_FFMPEG = ("ffmpeg and ffprobe are not installed, so the video scripts were not run; "
             "scripts/bootstrap installs them")

# Test methods that run each script for real, filled in by @runs.
RUN_CASES = {}


def runs(*scripts):
    def mark(method):
        for script in scripts:
            RUN_CASES.setdefault(script, []).append(method.__name__)
        return method
    return mark


# --- reading the package ---------------------------------------------------------------------

def tree(root):
    """Regular files under `root` by "/"-separated relative path, plus every link and every
    entry that is neither a regular file nor a folder."""
    files, links, odd = {}, [], []
    for parent, folders, names in os.walk(root, followlinks=False):
        for name in folders + names:
            path = os.path.join(parent, name)
            relative = os.path.relpath(path, root).replace(os.sep, "/")
            mode = os.lstat(path).st_mode
            if stat.S_ISLNK(mode):
                links.append(relative)
            elif name in names and not stat.S_ISREG(mode):
                odd.append(relative)
            elif name in names:
                files[relative] = path
    return files, links, odd


def roots():
    """Package folders the loader reads: "common" and each role, to their files."""
    result = {"common": tree(os.path.join(TOOLKIT, "common"))[0]}
    for role in ROLES:
        result[role] = tree(os.path.join(TOOLKIT, "profiles", role))[0]
    return result


def root_folder(name):
    return "common" if name == "common" else "profiles/" + name


def workspace(role):
    """What the role's workspace receives: common's files and the role's own, by path."""
    found = roots()
    merged = dict(found["common"])
    merged.update(found[role])
    return merged


def skills(files):
    """Skill folder name to {path inside the skill folder: absolute path}."""
    result = {}
    for relative, path in files.items():
        if relative.startswith(SKILLS_PREFIX):
            name, _, inside = relative[len(SKILLS_PREFIX):].partition("/")
            result.setdefault(name, {})[inside] = path
    return result


def read_text(path):
    with open(path, "rb") as source:
        return source.read().decode("utf-8")


def sha256_of(path):
    with open(path, "rb") as source:
        return hashlib.sha256(source.read()).hexdigest()


def strict_json(path):
    def no_duplicates(pairs):
        keys = [key for key, _ in pairs]
        duplicates = sorted({key for key in keys if keys.count(key) > 1})
        if duplicates:
            raise ValueError(f"duplicate keys {duplicates}")
        return dict(pairs)
    return json.loads(read_text(path), object_pairs_hook=no_duplicates)


def yaml_scalar(raw, where):
    """A one-line YAML scalar as OpenCode's front matter parser reads it."""
    if not raw:
        return ""
    if raw[0] == '"':
        if len(raw) < 2 or raw[-1] != '"':
            raise ValueError(f"{where}: unterminated double-quoted value")
        try:
            return json.loads(raw)
        except ValueError as error:
            raise ValueError(f"{where}: bad double-quoted value ({error})") from None
    if raw[0] == "'":
        inner = raw[1:-1]
        if len(raw) < 2 or raw[-1] != "'" or "'" in inner.replace("''", ""):
            raise ValueError(f"{where}: bad single-quoted value")
        return inner.replace("''", "'")
    if raw[0] in "-?:,[]{}#&*!|>'\"%@`":
        raise ValueError(f"{where}: a plain value cannot start with {raw[0]!r}; quote it")
    if ": " in raw or raw.endswith(":") or " #" in raw or "\t#" in raw:
        raise ValueError(f"{where}: ': ' or ' #' in a plain value breaks YAML; quote it")
    return raw


def front_matter(text):
    """Fields of the front matter and the body after it; ValueError says what is wrong."""
    lines = text.split("\n")
    if lines[0] != "---":
        raise ValueError("the first line is not '---'")
    try:
        end = lines.index("---", 1)
    except ValueError:
        raise ValueError("no closing '---' line") from None
    fields = {}
    for number, line in enumerate(lines[1:end], start=2):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        match = re.match(r"^([A-Za-z][A-Za-z0-9_-]*):(?:[ \t]+(.*))?$", line)
        if not match:
            raise ValueError(f"line {number} is not 'key: value' on one line: {line!r}")
        key = match.group(1)
        if key in fields:
            raise ValueError(f"line {number}: '{key}' appears twice")
        fields[key] = yaml_scalar((match.group(2) or "").strip(), f"line {number}")
    return fields, "\n".join(lines[end + 1:])


def backticked(text):
    return re.findall(r"`([^`\n]+)`", text)


def names_present(files, reference):
    """Whether `reference` is a file of `files`, or a folder holding one when it ends in "/"."""
    if reference.endswith("/"):
        return any(path.startswith(reference) for path in files)
    return reference in files


# --- the package's layout --------------------------------------------------------------------

class Layout(unittest.TestCase):
    """What the loader refuses or what would reach the user broken."""

    def test_top_level_holds_common_the_roles_and_the_legacy_hashes(self):
        self.assertEqual(set(os.listdir(TOOLKIT)), TOP_LEVEL)
        profiles = os.path.join(TOOLKIT, "profiles")
        self.assertEqual(set(os.listdir(profiles)), set(ROLES))
        for name in ("common",) + tuple("profiles/" + role for role in ROLES):
            self.assertTrue(os.path.isdir(os.path.join(TOOLKIT, name)), name)

    def test_no_links_and_nothing_but_files_and_folders(self):
        _, links, odd = tree(TOOLKIT)
        self.assertEqual(links, [], "symbolic links in the package")
        self.assertEqual(odd, [], "entries that are neither files nor folders")

    def test_paths_never_climb_and_names_are_portable(self):
        for relative in tree(TOOLKIT)[0]:
            for part in relative.split("/"):
                self.assertNotIn(part, ("", ".", ".."), relative)
                self.assertRegex(part, PORTABLE_NAME, f"{relative}: use ASCII names without spaces")

    def test_only_opencode_is_hidden(self):
        for relative in tree(TOOLKIT)[0]:
            hidden = [part for part in relative.split("/") if part.startswith(".")]
            self.assertIn(hidden, ([], [".opencode"]), f"{relative}: stray hidden file or folder")

    def test_no_profile_marker_anywhere(self):
        for relative in tree(TOOLKIT)[0]:
            self.assertNotEqual(relative.rsplit("/", 1)[-1], MARKER, relative)

    def test_every_file_is_utf8_text_and_not_empty(self):
        for relative, path in tree(TOOLKIT)[0].items():
            with self.subTest(file=relative):
                self.assertTrue(relative.endswith(TEXT_EXTENSIONS),
                                f"{relative}: not one of the text kinds {TEXT_EXTENSIONS}")
                with open(path, "rb") as source:
                    data = source.read()
                self.assertTrue(data, "empty file")
                self.assertNotIn(b"\0", data)
                data.decode("utf-8")
                self.assertNotIn(b"\r", data, "Windows line ends")
                self.assertTrue(data.endswith(b"\n"), "no final line feed")

    def test_package_stays_small(self):
        total = sum(os.path.getsize(path) for path in tree(TOOLKIT)[0].values())
        self.assertLess(total, PACKAGE_LIMIT)

    def test_each_role_has_agents_md_exactly_once(self):
        found = roots()
        for role in ROLES:
            places = [name for name in ("common", role) if "AGENTS.md" in found[name]]
            self.assertEqual(len(places), 1, f"{role}: AGENTS.md found in {places}")
            self.assertIn("README.md", workspace(role), f"{role}: no guide for the person")

    def test_no_path_in_both_common_and_a_role(self):
        found = roots()
        for role in ROLES:
            shared = sorted(set(found["common"]) & set(found[role]))
            self.assertEqual(shared, [], f"{role} repeats common's paths")

    def test_video_workspace_leaves_the_project_config_to_the_wizard(self):
        video = workspace("video")
        for name in (".opencode/opencode.jsonc", ".opencode/opencode.json", "opencode.json",
                     "opencode.jsonc"):
            self.assertNotIn(name, video)

    def test_json_files_parse(self):
        for relative, path in tree(TOOLKIT)[0].items():
            if relative.endswith(".json"):
                with self.subTest(file=relative):
                    strict_json(path)

    def test_csv_rows_match_their_header(self):
        for relative, path in tree(TOOLKIT)[0].items():
            if not relative.endswith(".csv"):
                continue
            with self.subTest(file=relative):
                text = read_text(path).lstrip("\ufeff")
                delimiter = ";" if text.split("\n", 1)[0].count(";") else ","
                rows = [row for row in csv.reader(io.StringIO(text), delimiter=delimiter) if row]
                self.assertGreater(len(rows[0]), 1, "the header has one column")
                self.assertTrue(all(cell.strip() for cell in rows[0]), "an unnamed column")
                for number, row in enumerate(rows[1:], start=2):
                    self.assertEqual(len(row), len(rows[0]), f"row {number}")


# --- skills ----------------------------------------------------------------------------------

class Skills(unittest.TestCase):
    """Global skills: well-formed, each owned by one folder, known to the agent."""

    def test_skill_files_sit_in_skill_folders_with_skill_md(self):
        for name, files in roots().items():
            for relative in files:
                if relative.startswith(SKILLS_PREFIX):
                    parts = relative[len(SKILLS_PREFIX):].split("/")
                    self.assertGreaterEqual(len(parts), 2, f"{name}: {relative} is outside a skill folder")
            for skill, inside in skills(files).items():
                self.assertIn("SKILL.md", inside, f"{name}: skill folder {skill} has no SKILL.md")

    def test_front_matter_names_the_folder_and_describes_the_skill(self):
        for name, files in roots().items():
            for skill, inside in skills(files).items():
                if "SKILL.md" not in inside:
                    continue
                with self.subTest(root=name, skill=skill):
                    try:
                        fields, body = front_matter(read_text(inside["SKILL.md"]))
                    except ValueError as error:
                        self.fail(f"front matter: {error}")
                    self.assertIn("name", fields)
                    self.assertIn("description", fields)
                    self.assertTrue(1 <= len(fields["name"]) <= 64, fields["name"])
                    self.assertRegex(fields["name"], SKILL_NAME)
                    self.assertEqual(fields["name"], skill)
                    self.assertTrue(1 <= len(fields["description"]) <= 1024,
                                    f"description of {len(fields['description'])} characters")
                    self.assertTrue(body.strip(), "no instructions after the front matter")

    def test_skill_names_carry_the_product_prefix(self):
        for name, files in roots().items():
            for skill in skills(files):
                self.assertTrue(skill.startswith("orvek-"), f"{name}: {skill}")

    def test_each_role_ships_two_skills_of_its_own(self):
        found = roots()
        for role in ROLES:
            self.assertGreaterEqual(len(skills(found[role])), 2, role)

    def test_a_skill_folder_belongs_to_one_package_folder(self):
        owners = {}
        for name, files in roots().items():
            for skill in skills(files):
                owners.setdefault(skill, []).append(name)
        for skill, names in owners.items():
            self.assertEqual(len(names), 1, f"{skill} is shipped by {names}")

    def test_video_skills(self):
        video = skills(roots()["video"])
        for skill in VIDEO_SKILLS:
            self.assertIn(skill, video)
        edit = video["orvek-video-edit"]
        self.assertTrue(any(path.startswith("scripts/") for path in edit), "no scripts/")
        self.assertTrue(any(path.startswith("templates/") for path in edit), "no templates/")

    def test_generation_demands_permission_and_a_live_tool_list(self):
        text = read_text(skills(roots()["video"])["orvek-video-generate"]["SKILL.md"])
        for needed in ("initialize", "tools/list", "разрешени", "MCP"):
            self.assertIn(needed, text)

    def test_every_agents_md_names_the_skills_its_role_ships(self):
        for role in ROLES:
            files = workspace(role)
            agents = read_text(files["AGENTS.md"])
            for skill in skills(files):
                self.assertIn(skill, agents, f"{role}: AGENTS.md never mentions {skill}")

    def test_mentioned_skills_exist_for_that_role(self):
        for role in ROLES:
            files = workspace(role)
            shipped = set(skills(files))
            for relative, path in files.items():
                if relative.endswith(".md"):
                    for skill in re.findall(r"(?<![\w.-])orvek-[a-z0-9]+(?:-[a-z0-9]+)*", read_text(path)):
                        self.assertIn(skill, shipped, f"{role}: {relative} mentions {skill}")

    def test_paths_named_in_skills_exist(self):
        for name, files in roots().items():
            roles = ROLES if name == "common" else (name,)
            for skill, inside in skills(files).items():
                if "SKILL.md" not in inside:
                    continue
                for reference in backticked(read_text(inside["SKILL.md"])):
                    if re.match(r"^(scripts|templates)/\S*$", reference):
                        self.assertTrue(names_present(inside, reference),
                                        f"{skill}: `{reference}` is not in the skill folder")
                    elif re.match(r"^\./\S+$", reference):
                        for role in roles:
                            self.assertTrue(names_present(workspace(role), reference[2:]),
                                            f"{skill}: `{reference}` is not in the {role} workspace")

    def test_paths_named_in_workspace_guides_exist(self):
        for role in ROLES:
            files = workspace(role)
            for relative, path in files.items():
                if not relative.endswith(".md") or relative.startswith(SKILLS_PREFIX):
                    continue
                for reference in backticked(read_text(path)):
                    if (re.match(r"^(templates/|\.opencode/skills/)\S*$", reference)
                            or reference in ("AGENTS.md", "README.md", "OPENCODE.md")):
                        self.assertTrue(names_present(files, reference),
                                        f"{role}: {relative} names `{reference}`, which is not shipped")


# --- the earlier release's video workspace ---------------------------------------------------

class LegacyHashes(unittest.TestCase):
    """The hashes let the wizard recognise untouched files of the earlier video workspace."""

    @classmethod
    def setUpClass(cls):
        cls.recorded = strict_json(os.path.join(TOOLKIT, LEGACY_HASHES))
        cls.fixture, cls.links, cls.odd = tree(LEGACY)

    def test_an_object_of_paths_to_sha256(self):
        self.assertIsInstance(self.recorded, dict)
        self.assertTrue(self.recorded)
        for path, digest in self.recorded.items():
            self.assertIsInstance(digest, str, path)
            self.assertRegex(digest, SHA256, path)
            self.assertFalse(path.startswith("/") or "\\" in path, path)
            for part in path.split("/"):
                self.assertNotIn(part, ("", ".", ".."), path)

    def test_fixture_is_a_plain_workspace(self):
        self.assertEqual(self.links, [])
        self.assertEqual(self.odd, [])
        self.assertTrue(self.fixture, "the earlier workspace is empty")
        self.assertNotIn(".opencode/opencode.jsonc", self.fixture)
        for relative in self.fixture:
            self.assertNotEqual(relative.rsplit("/", 1)[-1], MARKER, relative)

    def test_keys_are_exactly_the_fixture_files(self):
        self.assertEqual(sorted(self.recorded), sorted(self.fixture))

    def test_values_are_the_fixture_files_hashes(self):
        for relative, path in self.fixture.items():
            self.assertEqual(self.recorded.get(relative), sha256_of(path), relative)

    def test_current_package_replaces_an_earlier_file(self):
        current = workspace("video")
        changed = [path for path, digest in self.recorded.items()
                   if path in current and sha256_of(current[path]) != digest]
        self.assertTrue(changed, "no earlier file differs from the current package at its path")


# --- scripts ---------------------------------------------------------------------------------

INSTALL = {}


def setUpModule():
    """Installs every role's workspace as the wizard does: merged files, scripts 0700."""
    INSTALL["home"] = tempfile.mkdtemp(prefix="orvek toolkit ")
    for role in ROLES:
        folder = os.path.join(INSTALL["home"], "Orvek Studio" if role == "video"
                              else os.path.join("Orvek Workspaces", role))
        for relative, source in workspace(role).items():
            target = os.path.join(folder, *relative.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(source, target)
            os.chmod(target, 0o700 if relative.endswith((".sh", ".py")) else 0o600)
        INSTALL[role] = folder


def tearDownModule():
    if "home" in INSTALL:
        shutil.rmtree(INSTALL["home"], ignore_errors=True)


def installed(script):
    """The installed copy of a package script (common's: in the first role's workspace)."""
    owner, _, relative = script.partition("/")
    if owner == "profiles":
        role, _, relative = relative.partition("/")
    else:
        role = ROLES[0]
    return os.path.join(INSTALL[role], *relative.split("/"))


def shipped_scripts():
    return sorted(relative for relative in tree(TOOLKIT)[0] if relative.endswith((".sh", ".py")))


def run(script, *arguments, cwd=None, env=None):
    environment = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    environment.update(env or {})
    return subprocess.run([installed(script), *arguments], cwd=cwd, env=environment,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=300,
                          check=False)


class ScriptChecks(unittest.TestCase):
    """Static checks of every shipped script and its command-line contract."""

    def test_every_script_has_a_run_case(self):
        missing = [script for script in shipped_scripts() if script not in RUN_CASES]
        self.assertEqual(missing, [], "shipped scripts that no test runs")
        stale = [script for script in RUN_CASES if script not in shipped_scripts()]
        self.assertEqual(stale, [], "run cases for scripts that are not shipped")

    def test_interpreter_lines_and_strict_mode(self):
        for script in shipped_scripts():
            text = read_text(os.path.join(TOOLKIT, script))
            first = text.split("\n", 1)[0]
            if script.endswith(".sh"):
                self.assertEqual(first, "#!/usr/bin/env bash", script)
                self.assertRegex(text, r"(?m)^set -euo pipefail$", script)
            else:
                self.assertEqual(first, "#!/usr/bin/env python3", script)

    def test_bash_syntax(self):
        for script in shipped_scripts():
            if script.endswith(".sh"):
                done = subprocess.run(["bash", "-n", os.path.join(TOOLKIT, script)],
                                      capture_output=True, check=False)
                self.assertEqual(done.returncode, 0, f"{script}: {done.stderr.decode()}")

    @unittest.skipUnless(shutil.which("shellcheck"), "shellcheck is not installed")
    def test_shellcheck(self):
        for script in shipped_scripts():
            if script.endswith(".sh"):
                done = subprocess.run(["shellcheck", "-s", "bash", os.path.join(TOOLKIT, script)],
                                      capture_output=True, check=False)
                self.assertEqual(done.returncode, 0, f"{script}:\n{done.stdout.decode()}")

    def test_bash_runs_on_the_macs_own_bash_and_tools(self):
        # macOS ships bash 3.2 and BSD tools: no bash 4 features, no GNU-only options.
        forbidden = {
            r"\bmapfile\b|\breadarray\b": "mapfile/readarray (bash 4)",
            r"\b(declare|local|typeset) -A\b": "associative arrays (bash 4)",
            r"\$\{[A-Za-z_][A-Za-z0-9_]*(,,?|\^\^?)\}": "case conversion (bash 4)",
            r"&>>|\|&": "bash 4 redirections",
            r"\bsed -i\b|\bsed -r\b": "GNU sed options",
            r"\bstat -c\b|\breadlink -f\b|\bdate -d\b|\bgrep -P\b|\bsort -V\b": "GNU-only options",
        }
        for script in shipped_scripts():
            if script.endswith(".sh"):
                text = read_text(os.path.join(TOOLKIT, script))
                for pattern, what in forbidden.items():
                    self.assertIsNone(re.search(pattern, text), f"{script}: {what}")

    def test_python_runs_on_the_macs_python_with_the_standard_library_only(self):
        # The Mac's own python3 (Command Line Tools) is 3.9.
        standard = getattr(sys, "stdlib_module_names", None)
        for script in shipped_scripts():
            if not script.endswith(".py"):
                continue
            text = read_text(os.path.join(TOOLKIT, script))
            tree_ = ast.parse(text, filename=script, feature_version=(3, 9))
            compile(text, script, "exec")
            if standard is None:
                continue
            for node in ast.walk(tree_):
                names = []
                if isinstance(node, ast.Import):
                    names = [alias.name for alias in node.names]
                elif isinstance(node, ast.ImportFrom) and node.level == 0 and node.module:
                    names = [node.module]
                for name in names:
                    self.assertIn(name.split(".")[0], standard, f"{script} imports {name}")

    def test_usage_in_russian_with_status_2_without_arguments(self):
        for script in shipped_scripts():
            with self.subTest(script=script):
                done = run(script)
                self.assertEqual(done.returncode, 2, done.stderr.decode())
                self.assertEqual(done.stdout, b"")
                self.assertIn("Использование", done.stderr.decode())


class ScriptRuns(unittest.TestCase):
    """Helpers shared by the runs: a scratch folder with a space, refusal checks."""

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="orvek run ")
        self.addCleanup(shutil.rmtree, self.scratch, True)

    def path(self, *parts):
        return os.path.join(self.scratch, *parts)

    def ok(self, done):
        self.assertEqual(done.returncode, 0, done.stderr.decode("utf-8", "replace"))
        return done.stdout.decode("utf-8")

    def refuses(self, done, status=1):
        self.assertEqual(done.returncode, status, done.stdout.decode("utf-8", "replace"))
        self.assertTrue(done.stderr.strip(), "refused without a message")
        return done.stderr.decode("utf-8")

    def assert_keeps_existing(self, script, output, *arguments):
        """With `output` already present, the script refuses and leaves it as it was."""
        with open(output, "wb") as existing:
            existing.write(b"keep me")
        self.refuses(run(script, *arguments))
        with open(output, "rb") as existing:
            self.assertEqual(existing.read(), b"keep me")

    def assert_no_leftovers(self, folder):
        leftovers = [name for name in os.listdir(folder) if name.startswith(".orvek-")]
        self.assertEqual(leftovers, [], "temporary files left behind")


@unittest.skipUnless(HAVE_FFMPEG, NO_FFMPEG)
class VideoScripts(ScriptRuns):
    """The video editing skill's scripts on a two-second test clip."""

    @classmethod
    def setUpClass(cls):
        cls.material = tempfile.mkdtemp(prefix="orvek footage ")
        cls.clip = os.path.join(cls.material, "clip 1.mp4")
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin",
                        "-f", "lavfi", "-i", "testsrc=duration=2:size=320x240:rate=25",
                        "-f", "lavfi", "-i", "sine=duration=2", "-shortest",
                        "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", cls.clip],
                       check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.material, ignore_errors=True)

    def measure(self, path):
        done = subprocess.run(["ffprobe", "-v", "error", "-print_format", "json", "-show_format",
                               "-show_streams", path], capture_output=True, check=True)
        data = json.loads(done.stdout)
        video = [s for s in data["streams"] if s["codec_type"] == "video"]
        audio = [s for s in data["streams"] if s["codec_type"] == "audio"]
        duration = float(data["format"].get("duration", 0) or 0)
        return duration, (video[0]["width"], video[0]["height"]) if video else None, bool(audio)

    @runs(PROBE)
    def test_probe_prints_duration_and_frame_size(self):
        info = json.loads(self.ok(run(PROBE, self.clip)))
        self.assertAlmostEqual(info["duration"], 2.0, delta=0.1)
        self.assertEqual((info["width"], info["height"]), (320, 240))
        self.assertAlmostEqual(info["fps"], 25.0, delta=0.01)
        self.assertTrue(info["has_audio"])
        self.assertEqual(info["size_bytes"], os.path.getsize(self.clip))

    @runs(PROBE)
    def test_probe_writes_a_new_report_only(self):
        report = self.path("clip 1 сведения.json")
        self.ok(run(PROBE, self.clip, report))
        self.assertAlmostEqual(strict_json(report)["duration"], 2.0, delta=0.1)
        self.assert_keeps_existing(PROBE, report, self.clip, report)
        self.refuses(run(PROBE, self.path("absent.mp4")))
        not_video = self.path("not video.mp4")
        with open(not_video, "w") as out:
            out.write("text")
        self.refuses(run(PROBE, not_video))

    @runs(CUT)
    def test_cut_takes_the_requested_span(self):
        out = self.path("цитата 'one'.mp4")
        self.ok(run(CUT, self.clip, "0.5", "00:00:01.5", out))
        duration, size, audio = self.measure(out)
        self.assertAlmostEqual(duration, 1.0, delta=0.15)
        self.assertEqual(size, (320, 240))
        self.assertTrue(audio)
        self.assert_no_leftovers(self.scratch)

    @runs(CUT)
    def test_cut_refuses_bad_requests_and_existing_output(self):
        out = self.path("part.mp4")
        self.assert_keeps_existing(CUT, out, self.clip, "0", "1", out)
        fresh = self.path("fresh.mp4")
        for start, end in (("1", "0.5"), ("x", "1"), ("1:2:3:4", "5"), ("0", "1,5")):
            self.refuses(run(CUT, self.clip, start, end, fresh), status=2)
        self.refuses(run(CUT, self.clip, "0", "1", self.path("part.avi")), status=2)
        self.refuses(run(CUT, self.path("absent.mp4"), "0", "1", fresh))
        self.refuses(run(CUT, self.clip, "0", "1", self.path("no folder", "a.mp4")))
        self.assertFalse(os.path.exists(fresh))
        self.assert_no_leftovers(self.scratch)

    @runs(PROXY)
    def test_proxy_scales_down_and_never_up(self):
        small = self.path("proxy 120.mp4")
        self.ok(run(PROXY, self.clip, small, "120"))
        duration, size, audio = self.measure(small)
        self.assertEqual(size, (160, 120))
        self.assertAlmostEqual(duration, 2.0, delta=0.15)
        self.assertTrue(audio)
        default = self.path("proxy.mp4")
        self.ok(run(PROXY, self.clip, default))
        self.assertEqual(self.measure(default)[1], (320, 240))
        self.assert_no_leftovers(self.scratch)

    @runs(PROXY)
    def test_proxy_refuses_bad_heights_and_existing_output(self):
        out = self.path("proxy.mp4")
        self.assert_keeps_existing(PROXY, out, self.clip, out)
        for height in ("121", "0", "abc", "99999", "0120"):
            self.refuses(run(PROXY, self.clip, self.path("p.mp4"), height), status=2)
        self.assertFalse(os.path.exists(self.path("p.mp4")))

    @runs(SHEET)
    def test_contact_sheet_tiles_the_grid(self):
        sheet = self.path("лист A001.jpg")
        self.ok(run(SHEET, self.clip, sheet, "3", "2"))
        with open(sheet, "rb") as image:
            self.assertEqual(image.read(2), b"\xff\xd8")
        # Frames 320 wide (240 high for this clip) with 4-point gaps between them.
        self.assertEqual(self.measure(sheet)[1], (3 * 320 + 2 * 4, 2 * 240 + 4))
        png = self.path("sheet.png")
        self.ok(run(SHEET, self.clip, png))
        self.assertEqual(self.measure(png)[1], (4 * 320 + 3 * 4, 4 * 240 + 3 * 4))
        self.assert_no_leftovers(self.scratch)

    @runs(SHEET)
    def test_contact_sheet_refuses_bad_grids_and_existing_output(self):
        sheet = self.path("sheet.jpg")
        self.assert_keeps_existing(SHEET, sheet, self.clip, sheet)
        for columns, rows in (("0", "2"), ("11", "2"), ("2", "x")):
            self.refuses(run(SHEET, self.clip, self.path("s.jpg"), columns, rows), status=2)
        self.refuses(run(SHEET, self.clip, self.path("s.gif")), status=2)
        not_video = self.path("not video.mp4")
        with open(not_video, "w") as out:
            out.write("text")
        self.refuses(run(SHEET, not_video, self.path("s.jpg")))
        self.assertFalse(os.path.exists(self.path("s.jpg")))
        self.assert_no_leftovers(self.scratch)

    @runs(CONCAT)
    def test_concat_joins_the_listed_clips_in_order(self):
        os.makedirs(self.path("edit v1"))
        shutil.copyfile(self.clip, self.path("edit v1", "it's one.mp4"))
        shutil.copyfile(self.clip, self.path("second clip.mp4"))
        listing = self.path("edit v1", "список клипов.txt")
        with open(listing, "w", encoding="utf-8", newline="") as out:
            out.write("# черновик\r\n\r\nit's one.mp4\r\n" + self.clip + "\n../second clip.mp4")
        joined = self.path("черновик 1.mp4")
        self.ok(run(CONCAT, listing, joined))
        duration, size, audio = self.measure(joined)
        self.assertAlmostEqual(duration, 6.0, delta=0.25)
        self.assertEqual(size, (320, 240))
        self.assertTrue(audio)
        self.assert_no_leftovers(self.scratch)

    @runs(CONCAT)
    def test_concat_refuses_mismatched_or_missing_clips_and_existing_output(self):
        small = self.path("small.mp4")
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-i", self.clip,
                        "-vf", "scale=160:120", "-c:v", "libx264", "-c:a", "aac", small],
                       check=True, capture_output=True)
        out = self.path("joined.mp4")
        cases = {"mixed.txt": f"{self.clip}\nsmall.mp4\n", "missing.txt": f"{self.clip}\nabsent.mp4\n",
                 "empty.txt": "# nothing\n\n"}
        for name, content in cases.items():
            with open(self.path(name), "w", encoding="utf-8") as listing:
                listing.write(content)
            self.refuses(run(CONCAT, self.path(name), out))
        self.assertFalse(os.path.exists(out))
        self.refuses(run(CONCAT, self.path("mixed.txt"), self.path("joined.mkv")), status=2)
        with open(self.path("good.txt"), "w", encoding="utf-8") as listing:
            listing.write(self.clip + "\n")
        self.assert_keeps_existing(CONCAT, out, self.path("good.txt"), out)
        self.assert_no_leftovers(self.scratch)


class OtherScripts(ScriptRuns):
    """The other roles' scripts on inputs made here."""

    def git(self, folder, *arguments):
        subprocess.run(["git", "-C", folder, "-c", "user.name=Анна Петрова",
                        "-c", "user.email=anna@example.com", "-c", "commit.gpgsign=false",
                        *arguments], check=True, capture_output=True,
                       env=dict(os.environ, GIT_CONFIG_NOSYSTEM="1", HOME=self.scratch))

    @runs(GIT_SUMMARY)
    @unittest.skipUnless(shutil.which("git"), "git is not installed")
    def test_git_summary_reports_commits_files_and_uncommitted_changes(self):
        repo = self.path("мой проект")
        os.makedirs(repo)
        self.git(repo, "init", "-q")
        env = {"HOME": self.scratch, "GIT_CONFIG_NOSYSTEM": "1"}
        empty = self.ok(run(GIT_SUMMARY, repo, env=env))
        self.assertIn("Коммитов ещё нет", empty)
        with open(os.path.join(repo, "файл 1.txt"), "w", encoding="utf-8") as out:
            out.write("one\n")
        self.git(repo, "add", "-A")
        self.git(repo, "commit", "-q", "-m", "Добавлен первый файл")
        with open(os.path.join(repo, "файл 1.txt"), "a", encoding="utf-8") as out:
            out.write("two\n")
        with open(os.path.join(repo, "new.txt"), "w", encoding="utf-8") as out:
            out.write("new\n")
        before = subprocess.run(["git", "-C", repo, "status", "--porcelain"], capture_output=True,
                                check=True, env=dict(os.environ, **env)).stdout
        report = self.ok(run(GIT_SUMMARY, repo, "3", env=env))
        self.assertIn("Добавлен первый файл", report)
        self.assertIn("Анна Петрова", report)
        self.assertIn("- файл 1.txt (1)", report)
        self.assertIn("?? new.txt", report)
        after = subprocess.run(["git", "-C", repo, "status", "--porcelain"], capture_output=True,
                               check=True, env=dict(os.environ, **env)).stdout
        self.assertEqual(before, after, "the summary changed the repository")
        self.refuses(run(GIT_SUMMARY, self.path("absent"), env=env))
        plain = self.path("plain")
        os.makedirs(plain)
        self.refuses(run(GIT_SUMMARY, plain, env=env))
        for days in ("x", "0", "-1", "99999"):
            self.refuses(run(GIT_SUMMARY, repo, days, env=env), status=2)

    @runs(PROFILE_CSV)
    def test_profile_csv_counts_and_summarises_columns(self):
        data = self.path("продажи март.csv")
        with open(data, "w", encoding="utf-8-sig", newline="") as out:
            out.write("id;Город;Выручка;Дата\r\n1;Москва;1 200,50;2024-03-01\r\n"
                      "2;Казань;300;01.03.2024\r\n3;Москва;;2024-03-05\r\n"
                      '4;"Санкт; Петербург";450,5;2024-03-02\r\n\r\n5;Москва;1000\r\n')
        report = self.ok(run(PROFILE_CSV, data))
        self.assertIn("разделитель: «;»", report)
        self.assertIn("строк данных (без заголовка и пустых строк): 5", report)
        self.assertIn("в строках файла: 7", report)
        self.assertIn("минимум 300, максимум 1200.5, среднее 737.75, медиана 725.25", report)
        self.assertIn("даты: с 2024-03-01 по 2024-03-05", report)
        self.assertIn("«Москва» — 3", report)
        self.assertIn("заполнено: 4, пусто: 1 (20.0%)", report)

        legacy = self.path("windows.csv")
        with open(legacy, "wb") as out:
            out.write("имя,значение\nВася,1.5\nПетя,2.5\n".encode("cp1251"))
        report = self.ok(run(PROFILE_CSV, legacy))
        self.assertIn("кодировка: cp1251", report)
        self.assertIn("### имя", report)
        self.assertIn("минимум 1.5, максимум 2.5, среднее 2, медиана 2", report)

    @runs(PROFILE_CSV)
    def test_profile_csv_reads_the_shipped_tables_and_never_overwrites(self):
        for relative in tree(TOOLKIT)[0]:
            if relative.endswith(".csv"):
                self.ok(run(PROFILE_CSV, os.path.join(TOOLKIT, relative)))
        data = self.path("data.csv")
        with open(data, "w", encoding="utf-8") as out:
            out.write("a,b\n1,2\n")
        report = self.path("профиль.md")
        self.assertEqual(self.ok(run(PROFILE_CSV, data, report)).strip(), report)
        with open(report, encoding="utf-8") as written:
            self.assertIn("### a", written.read())
        self.assert_keeps_existing(PROFILE_CSV, report, data, report)
        self.refuses(run(PROFILE_CSV, self.path("absent.csv")))
        empty = self.path("empty.csv")
        open(empty, "w").close()
        self.refuses(run(PROFILE_CSV, empty))

    @staticmethod
    def png(width, height):
        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body
                    + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
        rows = b"".join(b"\0" + b"\0" * (width * 3) for _ in range(height))
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))

    @runs(ASSET_REPORT)
    def test_asset_report_measures_images_and_flags_problems(self):
        folder = self.path("export 1")
        os.makedirs(os.path.join(folder, "icons"))
        images = {
            "icons/cart.png": self.png(16, 16), "icons/cart@2x.png": self.png(32, 32),
            "icons/logo.png": self.png(10, 10), "icons/logo@2x.png": self.png(21, 20),
            "icons/only@3x.png": self.png(9, 9), "Bad Name.PNG": self.png(5, 7),
            "anim.gif": b"GIF89a" + struct.pack("<HH", 40, 30) + b"\0" * 10,
            "photo.jpg": (b"\xff\xd8\xff\xe0" + struct.pack(">H", 16) + b"JFIF\0" + b"\0" * 9
                          + b"\xff\xc0" + struct.pack(">HBHHB", 17, 8, 480, 640, 3) + b"\0" * 9
                          + b"\xff\xd9"),
            "hero.webp": (b"RIFF" + struct.pack("<I", 22) + b"WEBPVP8X" + struct.pack("<I", 10)
                          + b"\0" * 4 + (1199).to_bytes(3, "little") + (799).to_bytes(3, "little")),
            "mark.svg": b'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 12"/>',
            "broken.png": b"\x89PNG\r\n\x1a\n0000IHDR",
        }
        for name, body in images.items():
            with open(os.path.join(folder, *name.split("/")), "wb") as out:
                out.write(body)
        report = self.ok(run(ASSET_REPORT, folder))
        for line in ("| icons/cart@2x.png | PNG | 32×32 |", "| anim.gif | GIF | 40×30 |",
                     "| photo.jpg | JPEG | 640×480 |", "| hero.webp | WebP | 1200×800 |",
                     "| mark.svg | SVG | 24×12 |", "| broken.png | PNG | ? |"):
            self.assertIn(line, report)
        remarks = report.split("## Замечания", 1)[1]
        self.assertIn("icons/logo@2x.png»: 21×20, а должно быть 20×20", remarks)
        self.assertIn("icons/only@3x.png»: нет базовой картинки", remarks)
        self.assertIn("«Bad Name.PNG»: в имени", remarks)
        self.assertIn("«broken.png»: не удалось прочитать размер", remarks)
        self.assertNotIn("cart", remarks)

    @runs(ASSET_REPORT)
    def test_asset_report_refuses_missing_folders_and_existing_reports(self):
        folder = self.path("export")
        os.makedirs(folder)
        report = self.path("отчёт.md")
        self.ok(run(ASSET_REPORT, folder, report))
        with open(report, encoding="utf-8") as written:
            self.assertIn("Картинок (PNG, JPEG, GIF, WebP, SVG) не найдено.", written.read())
        self.assert_keeps_existing(ASSET_REPORT, report, folder, report)
        self.refuses(run(ASSET_REPORT, self.path("absent")))

    @runs(TASKS_SUMMARY)
    def test_tasks_summary_finds_overdue_and_upcoming_work(self):
        today = date.today()
        day = lambda shift: (today + timedelta(days=shift)).strftime("%d.%m.%Y")
        tasks = self.path("задачи.csv")
        with open(tasks, "w", encoding="utf-8-sig", newline="") as out:
            out.write("Задача;Ответственный;Статус;Срок;Комментарий\n"
                      f"Согласовать бюджет;Ольга;в работе;{day(-3)};\n"
                      f"Запустить рассылку;;не начата;{day(2)};\n"
                      f"Обновить сайт;Иван;готово;{day(-10)};\n"
                      f"Провести ретро;Иван;в работе;потом;\n"
                      f"Нанять дизайнера;Ольга;в работе;{(today + timedelta(days=30)).isoformat()};\n")
        report = self.ok(run(TASKS_SUMMARY, tasks))
        sections = dict(part.split("\n", 1) for part in report.split("\n## ")[1:])
        self.assertIn("Всего задач: 5, открытых: 4.", report)
        self.assertIn("Согласовать бюджет — Ольга", sections["Просрочено"])
        self.assertIn("просрочено на 3 дн.", sections["Просрочено"])
        self.assertNotIn("Обновить сайт", report.split("## Просрочено", 1)[1])
        self.assertIn("Запустить рассылку", sections["Срок в ближайшие 7 дней"])
        self.assertNotIn("Нанять дизайнера", sections["Срок в ближайшие 7 дней"])
        self.assertIn("Запустить рассылку", sections["Без ответственного"])
        self.assertIn("Провести ретро — «потом»", sections["Без срока или с непонятным сроком"])
        self.assertIn("- Ольга: 2", sections["Открытые задачи по людям"])

    @runs(TASKS_SUMMARY)
    def test_tasks_summary_reads_the_shipped_template_and_never_overwrites(self):
        template = workspace("manager")["templates/tasks.csv"]
        self.ok(run(TASKS_SUMMARY, template))
        report = self.path("сводка.md")
        self.ok(run(TASKS_SUMMARY, template, report))
        self.assertTrue(os.path.getsize(report))
        self.assert_keeps_existing(TASKS_SUMMARY, report, template, report)
        wrong = self.path("wrong.csv")
        with open(wrong, "w", encoding="utf-8") as out:
            out.write("a,b\n1,2\n")
        self.assertIn("«Задача»", self.refuses(run(TASKS_SUMMARY, wrong)))
        self.refuses(run(TASKS_SUMMARY, self.path("absent.csv")))


def main():
    global TOOLKIT, LEGACY
    if len(sys.argv) < 3:
        sys.stderr.write("usage: check_toolkit.py TOOLKIT LEGACY_WORKSPACE [unittest options]\n")
        return 2
    TOOLKIT, LEGACY = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    for folder in (TOOLKIT, LEGACY):
        if not os.path.isdir(folder):
            sys.stderr.write(f"check_toolkit.py: no folder {folder}\n")
            return 2
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[3:], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
