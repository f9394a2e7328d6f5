"""The type stubs that `pip install .` ships (python/tallo-stubs) describe the
module as it is: the same classes, the same methods, the same parameters in
the same order, static methods as static methods."""
import ast
from pathlib import Path

import tallo

STUB = Path(__file__).resolve().parents[2] / "python" / "tallo-stubs" / "__init__.pyi"


def stubbed_classes():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    classes = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            methods = {}
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    static = any(isinstance(d, ast.Name) and d.id == "staticmethod" for d in item.decorator_list)
                    names = [a.arg for a in item.args.args]
                    methods[item.name] = (static, names if static else names[1:])
            classes[node.name] = methods
    return classes


def parameters(text_signature):
    """The parameter names of a text signature such as "($self, bin_size, number_bins)"."""
    inner = text_signature.strip()[1:-1]
    names = [part.split("=")[0].strip() for part in inner.split(",") if part.strip()]
    return [name for name in names if not name.startswith("$")]


def module_classes():
    classes = {}
    for name, cls in vars(tallo).items():
        if not isinstance(cls, type):
            continue
        methods = {}
        for attr, value in vars(cls).items():
            if attr.startswith("_"):
                continue
            static = isinstance(value, staticmethod)
            methods[attr] = (static, parameters(getattr(cls, attr).__text_signature__))
        if cls.__text_signature__:
            methods["__init__"] = (False, parameters(cls.__text_signature__))
        classes[name] = methods
    return classes


def test_the_stubs_match_the_module():
    assert stubbed_classes() == module_classes()
