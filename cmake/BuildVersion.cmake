# Which build this is, decided once at configure time for the programs (--version, the window)
# and the packages (their version and changelog).
#
# A release is the commit tagged v<project version>; its version is the project's: 0.2.0.
# Any other commit is a snapshot after the release it follows, in Debian's way:
#     <project version>+git<YYYYMMDD>.<N>.<commit>        e.g. 0.2.0+git20261210.214.ea65bbe
# the commit's date (UTC), its number N in the history (git rev-list --count: every commit has a
# higher number than the commits it comes after) and its abbreviated hash. dpkg orders snapshots
# by date, then by N, so also two commits of one day, with no tag needed; each sorts after the
# release it follows and before the next (scripts/version-order checks this with dpkg).
#
# A tree without git's history says what it knows from cmake/sourcecommit.txt: git archive
# fills in the commit, its time and its refs (export-subst, .gitattributes); the scripts that
# copy the tree write the file whole, N included (scripts/bare-root.sh). Without N a snapshot
# is <project version>+git<YYYYMMDD>~<commit>, which sorts after the snapshots of the days
# before and, by the tilde, before the counted snapshots of its own day. A tree that knows
# nothing of its commit builds as <project version>~unknown, which sorts before the release
# itself, so that any build that knows what it is upgrades it.
#
# Sets MONOPANEL_VERSION, MONOPANEL_RELEASE (true for a release), MONOPANEL_COMMIT (the full
# hash, empty when unknown), MONOPANEL_COMMIT_NUMBER (N, or empty) and MONOPANEL_COMMIT_TIME
# (seconds since 1970, or empty), and commit_timestamp() formats the commit's time;
# configure_file makes monopanelversion.h of them.

set(commit "")
set(commit_time "")
set(commit_number "")
set(commit_refs "")

find_package(Git QUIET)
set(git_top "")
if(Git_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE git_top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
file(REAL_PATH "${PROJECT_SOURCE_DIR}" source_dir)
if(git_top)
    file(REAL_PATH "${git_top}" git_top)
endif()

# Only the history of this tree counts, not that of a repository it happens to lie in.
if(git_top STREQUAL source_dir)
    macro(git_output variable)
        execute_process(COMMAND ${GIT_EXECUTABLE} ${ARGN}
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE ${variable} OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endmacro()
    git_output(commit log -1 --format=%H)
    git_output(commit_time log -1 --format=%ct)
    git_output(commit_number rev-list --count HEAD)
    git_output(commit_refs log -1 --format=%D)
    git_output(shallow rev-parse --is-shallow-repository)
    if(shallow STREQUAL "true")
        message(WARNING "A shallow clone counts only the commits it holds: the version's "
            "commit number is too low (git fetch --unshallow)")
    endif()
    # A new commit, a checkout or a new tag configures again, so that the build says what it is.
    set(refs HEAD packed-refs refs/tags)
    git_output(branch symbolic-ref -q HEAD)
    if(branch)
        list(APPEND refs ${branch})
    endif()
    list(TRANSFORM refs PREPEND "--git-path;")
    git_output(git_files rev-parse ${refs})
    string(REPLACE "\n" ";" git_files "${git_files}")
    foreach(file IN LISTS git_files)
        cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
        if(EXISTS ${file})
            set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
        endif()
    endforeach()
else()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/cmake/sourcecommit.txt)
    file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/sourcecommit.txt lines)
    foreach(line IN LISTS lines)
        if(line MATCHES "^commit ([0-9a-f]+)$")
            set(commit ${CMAKE_MATCH_1})
        elseif(line MATCHES "^time ([0-9]+)$")
            set(commit_time ${CMAKE_MATCH_1})
        elseif(line MATCHES "^number ([0-9]+)$")
            set(commit_number ${CMAKE_MATCH_1})
        elseif(line MATCHES "^refs (.*)$")
            set(commit_refs "${CMAKE_MATCH_1}")
        endif()
    endforeach()
    # Left as it is in the repository: not filled in by git archive.
    if(NOT commit OR NOT commit_time)
        set(commit "")
        set(commit_time "")
        set(commit_number "")
    endif()
endif()

# The time of the commit in UTC, in FORMAT as string(TIMESTAMP) has it, which tells the time
# of SOURCE_DATE_EPOCH when that is set.
function(commit_timestamp output format)
    set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
    set(ENV{SOURCE_DATE_EPOCH} ${MONOPANEL_COMMIT_TIME})
    string(TIMESTAMP stamp "${format}" UTC)
    set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
    set(${output} "${stamp}" PARENT_SCOPE)
endfunction()

set(MONOPANEL_COMMIT "${commit}")
set(MONOPANEL_COMMIT_NUMBER "${commit_number}")
set(MONOPANEL_COMMIT_TIME "${commit_time}")
set(MONOPANEL_RELEASE FALSE)
if(NOT commit)
    set(MONOPANEL_VERSION "${PROJECT_VERSION}~unknown")
elseif(commit_refs MATCHES "(^|, )tag: v${PROJECT_VERSION}(,|$)")
    set(MONOPANEL_VERSION "${PROJECT_VERSION}")
    set(MONOPANEL_RELEASE TRUE)
else()
    commit_timestamp(commit_date "%Y%m%d")
    string(SUBSTRING ${commit} 0 7 short_commit)
    if(commit_number)
        set(snapshot "git${commit_date}.${commit_number}.${short_commit}")
    else()
        set(snapshot "git${commit_date}~${short_commit}")
    endif()
    set(MONOPANEL_VERSION "${PROJECT_VERSION}+${snapshot}")
endif()
message(STATUS "monopanel ${MONOPANEL_VERSION}")

# monopanelversion.h for the programs: target monopanelversion.
configure_file(${CMAKE_CURRENT_LIST_DIR}/monopanelversion.h.in
    ${PROJECT_BINARY_DIR}/version/monopanelversion.h @ONLY)
add_library(monopanelversion INTERFACE)
target_include_directories(monopanelversion INTERFACE ${PROJECT_BINARY_DIR}/version)
