# Makes the installed copies of the README and the printing guide: the
# README without what only a source checkout has (how to build, test and
# measure it, the source layout), and both with the paths an installed
# system has instead of the source tree's. Run as
#   cmake -DSOURCE_DIR=... -DOUTPUT_DIR=... -P installed_docs.cmake
# Each cut and replacement must find its text: a README edit that moves one
# fails the build instead of installing a document that names paths nobody
# has.

# Replaces each FROM TO pair of ARGN in the variable.
function(replace_all var)
  set(text "${${var}}")
  list(LENGTH ARGN n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET ARGN ${i} from)
    list(GET ARGN ${j} to)
    string(FIND "${text}" "${from}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "installed_docs: \"${from}\" is no longer in the text")
    endif()
    string(REPLACE "${from}" "${to}" text "${text}")
  endforeach()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# Cuts the text from BEGIN (included) to the next END after it (kept).
function(cut var begin end)
  set(text "${${var}}")
  string(FIND "${text}" "${begin}" from)
  if(from EQUAL -1)
    message(FATAL_ERROR "installed_docs: \"${begin}\" is no longer in the text")
  endif()
  string(LENGTH "${begin}" begin_length)
  math(EXPR after "${from} + ${begin_length}")
  string(SUBSTRING "${text}" ${after} -1 rest)
  string(FIND "${rest}" "${end}" to)
  if(to EQUAL -1)
    set(rest "")
  else()
    string(SUBSTRING "${rest}" ${to} -1 rest)
  endif()
  string(SUBSTRING "${text}" 0 ${from} head)
  set(${var} "${head}${rest}" PARENT_SCOPE)
endfunction()

file(READ "${SOURCE_DIR}/README.md" readme)
# The two commands of a source checkout and what they do.
cut(readme "```sh\nscripts/demo" "TELVORAN is the settlement-statement module")
cut(readme "The first command installs what is missing" "\n## ")
# Building the package; what it installs where stays.
cut(readme "From the Debian package (built in CI" "Either way `bin/` holds")
replace_all(readme
  "Either way `bin/` holds" "The package's `bin/` holds"
  "`share/doc/telvoran/` this README, the printing guide and the copyright. The
demo generator, the tests and the benchmarks stay in the build folder."
  "`share/doc/telvoran/` this guide, the printing guide (`printing.md`, with
sample print files in `examples/`) and the copyright.")
foreach(section "Building by hand" "Layout" "Error conventions" "Benchmarks")
  cut(readme "\n## ${section}\n" "\n## ")
endforeach()
replace_all(readme
  "`tools/zizavezu/README.md`" "`printing.md` beside this file"
  "source build/demo/env && cd \"$ZELROOT\"   # puts telvoran-print, recmgr and TELVORAN on PATH"
  "source /srv/finques/env && cd \"$ZELROOT\"  # the env telvoran-setup made"
  "adversary would, by `tools/telvoran_print/tests/data_safety_test.sh`:"
  "adversary would, by the project's tests:"
  "The demo uses\n`Sortida=PDF:statements.pdf`." "A new installation uses\n`Sortida=PDF:statements.pdf`.")
# The demo generator stays in the build folder.
cut(readme "`demodata demo ROOT` writes the demo data files" "\n## ")
file(WRITE "${OUTPUT_DIR}/README.md" "${readme}")

file(READ "${SOURCE_DIR}/tools/zizavezu/README.md" guide)
replace_all(guide
  "cp tools/zizavezu/tests/data/statement_letterhead.tmp"
  "cp examples/statement_letterhead.tmp"
  "ZELTMP=/tmp/zel build/release/tools/zizavezu/ZIZAVEZU"
  "ZELTMP=/tmp/zel ZIZAVEZU   # in the folder of this guide"
  "The sample print files in `tests/data/`"
  "The sample print files in `examples/` (beside this guide)")
file(WRITE "${OUTPUT_DIR}/printing.md" "${guide}")
