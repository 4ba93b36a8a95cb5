"""The public map functions of a front end, one per map of the core's
catalogue, each with a real signature and help made from its entry.

Every map takes (table, window, labels); a map that reads probes_per_cell
takes it fourth, and a random map takes the front end's `seed` and
`return_seed` keywords, which other maps lack. Every map takes the
`arithmetic` and `edges` keywords, their values and help made from the
core's lists of arithmetics and edge rules. So adding a map to the
catalogue adds it to every front end.
"""
import inspect
import textwrap

from . import _arguments as _args
from . import _core

_P = inspect.Parameter
# Keywords that only a random map takes.
_RANDOM_ONLY = ("seed", "return_seed")


def _parameters(entry, keywords, more_options):
    params = [_P(name, _P.POSITIONAL_OR_KEYWORD) for name in ("table", "window", "labels")]
    if entry["takes_probes"]:
        params.append(_P("probes_per_cell", _P.POSITIONAL_OR_KEYWORD,
                         default=_args.DEFAULT_PROBES_PER_CELL))
    params += [_P(name, _P.KEYWORD_ONLY, default=default) for name, default in keywords
               if entry["random"] or name not in _RANDOM_ONLY]
    params.append(_P("arithmetic", _P.KEYWORD_ONLY, default=_args.DEFAULT_ARITHMETIC))
    params.append(_P("edges", _P.KEYWORD_ONLY, default=_args.DEFAULT_EDGES))
    if more_options:
        params.append(_P(more_options, _P.VAR_KEYWORD))
    return params


def _catalogue_note(entries):
    """The help of a keyword from a catalogue's (name, summary) entries, the
    first the default, braces doubled for str.format."""
    return " ".join(f"{name!r}{' (the default)' if i == 0 else ''}: {summary}."
                    for i, (name, summary) in enumerate(entries)).replace("{", "{{").replace("}", "}}")


_ARITHMETIC_NOTE = _catalogue_note(_args.ARITHMETICS)
_EDGES_NOTE = _catalogue_note(_args.EDGES)


def _doc(entry, signature, notes, returns, meaning):
    """The summary from the catalogue, then one note per argument."""
    lines = textwrap.wrap(f"{entry['title']}: {entry['summary']}.", 76) + [""]
    for name, p in signature.parameters.items():
        note = notes[name].format(meaning=meaning(entry["table"]))
        shown = "**" + name if p.kind is _P.VAR_KEYWORD else name
        lines += textwrap.wrap(note, 76, initial_indent=f"{shown:<16}", subsequent_indent=" " * 16)
    return "\n".join(lines + [""] + textwrap.wrap(returns, 76))


def _function(entry, module, run, keywords, more_options, notes, returns, meaning):
    notes = {**notes, "arithmetic": _ARITHMETIC_NOTE, "edges": _EDGES_NOTE}
    signature = inspect.Signature(_parameters(entry, keywords, more_options))
    name = entry["name"]
    keyword_names = [p.name for p in signature.parameters.values() if p.kind is _P.KEYWORD_ONLY]

    def map_function(*args, **kwargs):
        if not more_options:
            unknown = sorted(set(kwargs) - set(signature.parameters))
            if unknown:
                raise TypeError(f"unknown option {unknown[0]!r}; the options are "
                                f"{', '.join(keyword_names)}")
        try:
            bound = signature.bind(*args, **kwargs)
        except TypeError as e:
            raise TypeError(f"{name}() {e}") from None
        bound.apply_defaults()
        return run(entry, **bound.arguments)

    map_function.__name__ = map_function.__qualname__ = name
    map_function.__module__ = module
    map_function.__signature__ = signature
    map_function.__doc__ = _doc(entry, signature, notes, returns, meaning)
    return map_function


def map_functions(module, run, keywords, notes, returns, more_options=None,
                  meaning=lambda text: text):
    """{name: function} for every map, in catalogue order.

    run(entry, **arguments) computes a map, entry being its catalogue dict.
    keywords: (name, default) of the keyword-only arguments, in order;
    more_options, when given, names a ** argument. notes: a sentence per
    argument for the help, in which {meaning} is the catalogue's meaning of
    a table value, as meaning() words it for this front end; returns: what
    the function gives back."""
    return {entry["name"]: _function(entry, module, run, keywords, more_options, notes, returns,
                                     meaning)
            for entry in _core.catalogue()}
