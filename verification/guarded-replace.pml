/*
 * The guarded replace of an existing user file: replace() in src/config/PreservedConfig.cpp
 * (reached through PreservedConfig::write), against a concurrent editor of the same file and a
 * crash of the wizard between any two of its file-system calls.
 *
 * What is checked, at every end state (the wizard returned, failed or crashed, and the editor
 * finished):
 *   - the target holds one whole version: the old bytes, the new bytes or the editor's bytes,
 *     never halves of two versions, and the editor's bytes only if the editor wrote;
 *   - without an editor the call succeeds (or was killed) and the target holds the new bytes
 *     after a success, the old or the new bytes after a crash;
 *   - the editor's change is kept, unless it came after the wizard's last comparison of the
 *     target and before the rename (the one-call window no lock-free replacement can close);
 *   - after a return, successful or not, no staged copy is left; after a success with changed
 *     bytes the backup holds the old bytes, and a call with nothing to change creates nothing.
 *
 * Files are modelled as two halves (chunks), each a version tag below, so that a copy read in
 * pieces while the editor rewrites the file in place can come out torn. Each atomic block is
 * one file-system call. Links, ownership, modes and immutable flags are not modelled (the
 * editor changes contents only), nor is a power cut: a crash kills the process, what it wrote
 * stays.
 *
 * A comment that begins with "Step::name." marks where the code calls its test hook with that
 * PreservedConfig::Step, just before the calls that follow.
 *
 * -DBROKEN drops the comparison of the target itself in the "verified" step, leaving only the
 * backup's: spin must then find an editor's change that is lost outside the window.
 */

#define Z 0 /* nothing written: a new or truncated file */
#define O 1 /* the old bytes ("expected") */
#define N 2 /* the new bytes ("updated") */
#define E 3 /* the editor's bytes */

#define NINODES 6
byte h1[NINODES]; /* first chunk of each file (inode) */
byte h2[NINODES]; /* second chunk */
byte nextInode = 2;

/* Names in the target's folder, each leading to an inode or to nothing (0). */
byte target = 1;
byte staged = 0;
byte backup = 0;

byte upd; /* the version "updated" holds: N, or O when the caller passes expected == updated */
bool createdSibling = false;

mtype = { running, ok, unsupported, changed, platform, crashed };
mtype result = running;

/* Ghosts for the editor property. */
bool window = false;       /* between the last comparison of the target and the rename */
bool edited = false;       /* the editor changed the target */
bool editInWindow = false; /* ... and its first change fell inside the window */
bool editorDeleted = false;

#define whole(i, v) (h1[i] == v && h2[i] == v)

/* A crash may strike before any step; what was written stays, nothing is cleaned up. */
#define CRASHPOINT                                                                                 \
    if                                                                                             \
    :: result = crashed; goto finish                                                               \
    :: true                                                                                        \
    fi

/* CreatedFile's destructor (PreservedConfig.cpp): base::removeIfStill, one lstat and unlink of
 * the private staged name; after the rename the name leads nowhere and nothing is removed. */
#define REMOVE_STAGED atomic { staged = 0 }

proctype Wizard() {
    byte from; /* the inode copyFile opened (openForReading) */
    byte into; /* the inode the copy writes */

    /* base::noLinks(target): links are not modelled. */
    CRASHPOINT;
    /* base::read(target) != expected -> ConfigReader::failure(); a missing file is the
     * platform's error. */
    atomic {
        if
        :: target == 0 -> result = platform; goto finish
        :: target != 0 && !whole(target, O) -> result = unsupported; goto finish
        :: else
        fi
    }
    /* expected == updated: nothing is written. */
    if
    :: upd == O -> result = ok; goto finish
    :: else
    fi
    /* The size limit on `updated`, lstat (regular, owned by the user, owner-writable) and
     * base::lockedAgainstChange: properties the editor does not change here. Step::checked. */

    /* sibling(), noLinks on both names; CreatedFile staged(stagedPath): open O_CREAT|O_EXCL. */
    CRASHPOINT;
    atomic { into = nextInode; nextInode++; h1[into] = Z; h2[into] = Z; staged = into;
             createdSibling = true }
    /* copyFile(target, staged): openForReading(target), then copyData in chunks. */
    CRASHPOINT;
    atomic {
        if
        :: target == 0 -> result = platform; goto cleanup
        :: else -> from = target
        fi
    }
    CRASHPOINT;
    atomic { h1[into] = h1[from] }
    CRASHPOINT;
    atomic { h2[into] = h2[from] }
    /* Step::staged. ftruncate + lseek, base::writeAll(updated) (two chunks), fsync, close. */
    CRASHPOINT;
    atomic { h1[into] = Z; h2[into] = Z }
    CRASHPOINT;
    atomic { h1[into] = upd }
    CRASHPOINT;
    atomic { h2[into] = upd }

    /* Step::written. base::noLinks(target); base::read(target) != expected -> changed(). */
    CRASHPOINT;
    atomic {
        if
        :: target == 0 -> result = platform; goto cleanup
        :: target != 0 && !whole(target, O) -> result = changed; goto cleanup
        :: else
        fi
    }

    /* Step::rechecked. CreatedFile backup(backupPath) and copyFile(target, backup); fsync,
     * close, keep(), syncFolder. A copy that throws leaves the backup unkept: it is removed. */
    CRASHPOINT;
    atomic { into = nextInode; nextInode++; h1[into] = Z; h2[into] = Z; backup = into }
    CRASHPOINT;
    atomic {
        if
        :: target == 0 -> backup = 0; result = platform; goto cleanup
        :: else -> from = target
        fi
    }
    CRASHPOINT;
    atomic { h1[into] = h1[from] }
    CRASHPOINT;
    atomic { h2[into] = h2[from] }

    /* Step::backedUp. base::read(backupPath) != expected || base::read(target) != expected
     * -> ConfigReader::failure(); the backup stays. */
    CRASHPOINT;
    atomic {
        if
        :: !whole(backup, O) -> result = unsupported; goto cleanup
        :: else
        fi
#ifdef BROKEN
        window = true
#endif
    }
#ifndef BROKEN
    CRASHPOINT;
    atomic {
        if
        :: target == 0 -> result = platform; goto cleanup
        :: target != 0 && !whole(target, O) -> result = unsupported; goto cleanup
        :: else
        fi;
        window = true
    }
#endif

    /* Step::verified. ::rename(stagedPath, target): the one replacement, atomic in the folder. */
    CRASHPOINT;
    atomic { target = staged; staged = 0; window = false }
    /* syncFolder; Step::renamed. base::read(target) != updated -> ConfigReader::failure(). */
    CRASHPOINT;
    atomic {
        if
        :: target == 0 -> result = platform
        :: target != 0 && !whole(target, upd) -> result = unsupported
        :: else -> result = ok
        fi
    }
cleanup:
    /* Every exit after the staged copy exists runs its removal (it finds nothing after the
     * rename); a crash is no exit and skips it. */
    CRASHPOINT;
    REMOVE_STAGED;
finish:
    window = false
}

/* Another program with the same file open: it rewrites it in place (open with O_TRUNC, then
 * two chunks), replaces it with a file of its own by rename, removes it, or does nothing. Its
 * first step may come at any point, before, during or after the wizard's call. */
proctype Editor() {
    byte fd;
    if
    :: skip
    :: atomic { target != 0 -> fd = target; h1[fd] = Z; h2[fd] = Z; edited = true;
                editInWindow = window }
       atomic { h1[fd] = E }
       atomic { h2[fd] = E }
    :: atomic { fd = nextInode; nextInode++; h1[fd] = E; h2[fd] = E; target = fd; edited = true;
                editInWindow = window }
    :: atomic { target != 0 -> target = 0; edited = true; editInWindow = window;
                editorDeleted = true }
    fi
}

init {
    h1[1] = O;
    h2[1] = O;
    if
    :: upd = N
    :: upd = O
    fi;
    atomic { run Wizard(); run Editor() }
    (_nr_pr == 1);

    /* One whole version, never a mix of chunks. */
    assert(target == 0 || whole(target, O) || whole(target, upd) || (edited && whole(target, E)));
    assert(target != 0 || editorDeleted);
    /* Without an editor the call succeeds unless it is killed, and leaves a whole version. */
    assert(edited || result == ok || result == crashed);
    assert(edited || result != ok || whole(target, upd));
    /* The editor's change survives unless it fell in the window before the rename. */
    assert(!edited || editInWindow ||
           (editorDeleted && target == 0) || (!editorDeleted && target != 0 && whole(target, E)));
    /* After a return no staged copy is left. */
    assert(result == crashed || staged == 0);
    /* A successful replacement leaves the old bytes in the backup; no change creates nothing. */
    assert(result != ok || upd == O || (backup != 0 && whole(backup, O)));
    assert(upd != O || !createdSibling)
}
