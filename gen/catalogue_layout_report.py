"""Writes the segment layout as a plain table for the teams that own the unit's other processes."""

from catalogue_emit_cpp import event_names
from catalogue_source import Catalogue
from catalogue_validation import row_size
from output_file import write_text


def write_layout_report(catalogue: Catalogue, path: str) -> None:
    names = event_names(catalogue)
    lines = []
    for index, memory in enumerate(catalogue.memories):
        lines.append(f"Memory {index} {memory.name}: payload {memory.size} bytes, {len(memory.rows)} rows")
        lines.append(f"  {'offset':>7} {'size':>7}  {'row':40} {'type':32} {'event':>5}  event name")
        own = [r for r in memory.rows if r.copy_of is None]
        for row in sorted(own, key=lambda r: r.offset):
            type_text = row.type_name + (f"[{row.length}]" if row.length is not None else "")
            lines.append(
                f"  {row.offset:7} {row_size(catalogue, row):7}  {row.name:40} {type_text:32} {row.event:5}  "
                f"{names[row.event]}"
            )
        used = max((r.offset + row_size(catalogue, r) for r in own), default=0)
        lines.append(f"  {'':7} {memory.size - used:7}  (reserved up to the payload size)")
        for row in memory.rows:
            if row.copy_of is not None:
                lines.append(f"  also lists {row.name} of {row.copy_of} (offset {row.offset}, event {row.event})")
        lines.append("")
    write_text(path, "\n".join(lines))
