/*
 * The awareness transaction: AwarenessTransaction::writeForTesting (reached through
 * AwarenessTransaction::write) and AwarenessTransaction::recovery in
 * src/skills/AwarenessTransaction.cpp, which change the global "AGENTS.md" and the awareness
 * state ".orvek-awareness.json" together under the undo record ".orvek-awareness-pending.json".
 * Both end in the same private settle(folder), which rolls the pair forward or back and tells
 * which: the write returns only when the pair ended committed and throws
 * (CONFIGURATION_UNSUPPORTED) when settle rolled it back; recovery ignores the answer.
 * installGlobalForTesting (src/skills/GlobalSkills.cpp) runs recovery first on every start, so
 * after a crash, or after a write that failed, the next start runs recovery.
 *
 * Around it: a crash of the wizard between any two file-system calls (up to MAXCRASH crashes,
 * in the transaction and in the recoveries that follow), and an editor (the user or another
 * program) that replaces either file with its own version, puts back the version it held before
 * the transaction, or removes it, at any moment, up to EDITS times.
 *
 * What is checked, at every end state (the last run finished: the write returned, or a
 * recovery returned or refused, and the editor is done):
 *   - each file holds one of its versions: the old bytes, the new bytes or the editor's; never
 *     a file the wizard created and had not written yet, and the record is whole or absent;
 *   - without an editor, recovery always finishes its work: the record is gone and the pair is
 *     (old, old) or (new, new), whatever crashed where;
 *   - with an editor, once the record is gone, two files the editor left alone are both old or
 *     both new;
 *   - (at each step that replaces or removes a file) the wizard replaces only what it last
 *     compared: the editor's change is never overwritten, unless it came after the wizard's
 *     last comparison of that file and before the rename or removal that follows it (the
 *     window no lock-free replacement can close; see guarded-replace.pml). Like the code, this
 *     compares bytes: an editor that puts back exactly the bytes it found changed nothing;
 *   - whenever the write returns success, at that moment both files hold the new bytes, unless
 *     the editor changed one after settle last read it (no check can see a change that comes
 *     after it); a write whose closing settle rolled the pair back throws;
 *   - a transaction that returned left both new versions (or the editor's).
 * ltl "recovers": every run finishes, and without an editor it finishes with the record gone.
 *
 * Contents are whole versions here: the guarded replace changes its target only by one atomic
 * rename of a completely written copy, which guarded-replace.pml checks chunk by chunk; its
 * staged and backup siblings are left out. The new files of the transaction are made by
 * base::create (src/base/FilePrimitives.cpp), which writes the bytes whole under a temporary
 * name of its own and moves that in without replacing: the name appears with all its bytes in
 * one step, or not at all.
 *
 * Variants that each drop one guard of the code; spin must find the violation it prevents:
 * -DBROKEN drops settle's second read of a created "AGENTS.md" before removing it: an editor's
 *   change that the removal loses outside the window.
 * -DEMPTY_CREATE models the earlier base::create, which opened the real name with
 *   O_CREAT|O_EXCL and then wrote through it: a crash between the two leaves an empty file
 *   under the name, and every later recovery refuses.
 * -DSUCCESS_AFTER_ROLLBACK lets the write return normally whatever its closing settle did (as
 *   the earlier write, which ended with recovery(folder), did): a success that left the pair
 *   rolled back.
 * scripts/check-models recognises the assertions by their text as spin prints it, numbers of
 * the defines below included.
 */

#ifndef MAXCRASH
#define MAXCRASH 3
#endif
#ifndef EDITS
#define EDITS 2
#endif

/* File contents. */
#define NONE 0   /* no such file */
#define EMPTY 1  /* -DEMPTY_CREATE: created by open(O_CREAT|O_EXCL), nothing written yet */
#define A_OLD 2  /* "AGENTS.md" before the transaction */
#define A_NEW 3  /* "AGENTS.md" after it */
#define S_OLD 4  /* the state before */
#define S_NEW 5  /* the state after */
#define EDIT 6   /* the editor's version */
#define RECORD 7 /* the undo record, written completely */

#define AG 0 /* "AGENTS.md" */
#define ST 1 /* ".orvek-awareness.json" */
#define PD 2 /* ".orvek-awareness-pending.json" */

byte file[3];
#ifdef EMPTY_CREATE
byte gen[3]; /* bumped whenever a name starts leading to another file or to none */
#define MOVED(f) gen[f]++
#else
/* Only the open-then-write create needs to tell one file under a name from the next. */
#define MOVED(f) skip
#endif

/* The Change: both files' bytes before (NONE: no such file) and after. */
byte oldA, oldS, newA, newS;

byte crashes = 0;
byte edits = 0;
bool finished = false;

mtype = { running, committed, recovered, refused };
mtype result = running;

/* Ghosts for the editor property, per file. */
bool win[2];         /* between the last comparison of the file and the step that replaces it */
bool inWin[2];       /* the editor changed the file inside the current window */
bool touched[2];     /* the editor changed the file */
byte editorValue[2]; /* what the editor left there */
bool editorActed = false;
bool sinceRead[2];   /* the editor changed the file after settle last read it */

/* The window opens at a comparison that found the file as expected: nothing the editor did
 * before it matters any more. */
#define OPEN_WINDOW(f) win[f] = true; inWin[f] = false

/* A step that replaces or removes the file, which the wizard last found holding `expected`:
 * whatever stands there now must still be that, or the editor's change fell in the window. */
#define REPLACES(f, expected) assert(file[f] == expected || inWin[f])

/* A crash may strike before any step: the process is gone, what it wrote stays, and the next
 * start runs recovery. */
#define CRASHPOINT                                                                                 \
    if                                                                                             \
    :: crashes < MAXCRASH -> crashes++; goto crash                                                 \
    :: true                                                                                        \
    fi

/* PreservedConfig::write(file f, expected, updated) (replace() in
 * src/config/PreservedConfig.cpp), as the target sees it; a throw goes to `failed`. */
inline guarded(f, expected, updated) {
    /* base::noLinks(target); base::read(target) != expected -> ConfigReader::failure() (a
     * missing file: the platform's error). */
    CRASHPOINT;
    atomic {
        if
        :: file[f] != expected -> goto failed
        :: else
        fi
    }
    if
    :: expected != updated ->
        /* Attributes checked; staged copy created, copied, truncated, written, flushed: its
         * own sibling, which the target does not see. Step::written: base::read(target) !=
         * expected -> changed(). */
        CRASHPOINT;
        atomic {
            if
            :: file[f] != expected -> goto failed
            :: else
            fi
        }
        /* Step::rechecked: the backup copy of the target (copyFile through its own
         * descriptor); a missing target fails the copy. */
        CRASHPOINT;
        atomic {
            if
            :: file[f] == NONE -> goto failed
            :: else -> copied = file[f]
            fi
        }
        /* Step::backedUp: base::read(backupPath) != expected || base::read(target) != expected
         * -> ConfigReader::failure(). */
        CRASHPOINT;
        atomic {
            if
            :: copied != expected || file[f] != expected -> goto failed
            :: else
            fi;
            OPEN_WINDOW(f)
        }
        /* Step::verified: ::rename(stagedPath, target), then syncFolder. */
        CRASHPOINT;
        atomic { REPLACES(f, expected); file[f] = updated; MOVED(f); win[f] = false }
        /* Step::renamed: base::read(target) != updated -> ConfigReader::failure(). */
        CRASHPOINT;
        atomic {
            if
            :: file[f] != updated -> goto failed
            :: else
            fi
        }
    :: else
    fi
}

/* base::create(path, bytes) (src/base/FilePrimitives.cpp). */
inline create(f, bytes) {
#ifndef EMPTY_CREATE
    /* noLinks(path); ::lstat(path) succeeds -> PlatformError(EEXIST). */
    CRASHPOINT;
    atomic {
        if
        :: file[f] != NONE -> goto failed
        :: else
        fi
    }
    /* TempPath temporary(".orvek-<uuid>.creating" in the same folder): open with
     * O_CREAT|O_EXCL, writeAll, fchmod, close; then temporary.keepAs(path), that is
     * publishWithoutReplacing: openForReading and fsync of the temporary. All of it happens
     * under the temporary's own name, which nothing here reads: a crash in it leaves at worst
     * that stray file, so one crash point stands for them all. */
    CRASHPOINT;
    /* moveWithoutReplacing: renameat2(RENAME_NOREPLACE) (renamex_np(RENAME_EXCL) on the Mac);
     * a name taken since the lstat -> EEXIST, and ~TempPath removes the temporary. Then
     * syncFolder, in publishWithoutReplacing and again in commit(). */
    atomic {
        if
        :: file[f] != NONE -> goto failed
        :: else -> file[f] = bytes
        fi
    }
#else
    /* The earlier create: open(path, O_CREAT|O_EXCL) (EEXIST when the name is taken), then
     * writeAll, fchmod, fsync and close through that descriptor, which reach the created file
     * even if the name was given to another one meanwhile. */
    CRASHPOINT;
    atomic {
        if
        :: file[f] != NONE -> goto failed
        :: else -> file[f] = EMPTY; gen[f]++; mine = gen[f]
        fi
    }
    CRASHPOINT;
    atomic {
        if
        :: gen[f] == mine -> file[f] = bytes
        :: else
        fi
    }
#endif
}

/* commit() in AwarenessTransaction.cpp: the guarded replace when the file existed, otherwise
 * base::create and syncFolder. */
inline commit(f, current, updated) {
    if
    :: current != NONE -> guarded(f, current, updated)
    :: else -> create(f, updated)
    fi
}

/* Who runs settle: the write's own closing call, or recovery on a later start. */
#define WRITING 0  /* writeForTesting, before its closing settle */
#define CLOSING 1  /* the settle that ends writeForTesting */
#define RECOVERY 2 /* AwarenessTransaction::recovery, from installGlobalForTesting */

proctype Wizard() {
    byte copied;   /* the backup copy's contents */
    byte mine;     /* -DEMPTY_CREATE: the generation base::create made */
    byte curA, curS;
    byte phase = WRITING;
    bool bothNew;  /* what settle returns: the pair ended committed (not rolled back) */

    /* ---- AwarenessTransaction::writeForTesting. The record first: base::create of
     * ".orvek-awareness-pending.json" with the serialised Change, then syncFolder. */
    create(PD, RECORD);
    /* "recorded". */
    commit(AG, oldA, newA);
    /* "AGENTS.md committed". */
    commit(ST, oldS, newS);
    /* ".orvek-awareness.json committed"; the write ends with `if (!settle(folder)) throw`. */
    phase = CLOSING;

settle:
    /* ---- settle(folder) in AwarenessTransaction.cpp: the body of recovery, which ignores its
     * answer, and the end of writeForTesting, which throws on false. */
    bothNew = false;
    /* base::noLinks(pending); base::presentOrFail(pending): no record -> return false. */
    CRASHPOINT;
    atomic {
        if
        :: file[PD] == NONE -> goto settled
        :: else
        fi
    }
    /* base::readObject(pending): a record that was never written is no JSON (JsonError); the
     * members are present and decode. */
    CRASHPOINT;
    atomic {
        if
        :: file[PD] != RECORD -> goto failed
        :: else
        fi
    }
    /* base::readIfPresent of "AGENTS.md", then of the state: presentOrFail and read taken as
     * one step (a file removed between them would only add a platform error, a refusal). */
    CRASHPOINT;
    atomic { curA = file[AG]; sinceRead[AG] = false }
    CRASHPOINT;
    atomic { curS = file[ST]; sinceRead[ST] = false }

    /* Both committed: only the record goes, then return true. */
    if
    :: curS == newS && curA == newA -> bothNew = true; goto removeRecord
    :: else
    fi
    /* Otherwise roll back; the state is committed last, so it must still be the old one. */
    if
    :: curS != oldS -> goto failed
    :: else
    fi
    if
    :: curA == NONE ->
        if
        :: oldA != NONE -> goto failed
        :: else
        fi
    :: curA != NONE && curA != newA ->
        if
        :: curA != oldA -> goto failed
        :: else
        fi
    :: curA != NONE && curA == newA && oldA != NONE ->
        /* PreservedConfig::write(agentsPath, newAgents, oldAgents) when they differ. */
        if
        :: oldA != newA -> guarded(AG, newA, oldA)
        :: else
        fi
    :: curA != NONE && curA == newA && oldA == NONE ->
        /* The transaction created the file: base::noLinks, base::read(agentsPath) != newAgents
         * -> ConfigReader::failure(); then removeFile: noLinks, unlink, syncFolder. */
#ifndef BROKEN
        CRASHPOINT;
        atomic {
            if
            :: file[AG] != newA -> goto failed
            :: else
            fi;
            OPEN_WINDOW(AG)
        }
#else
        OPEN_WINDOW(AG);
#endif
        CRASHPOINT;
        atomic { REPLACES(AG, newA); file[AG] = NONE; MOVED(AG); win[AG] = false }
    fi
    /* Rolled back: removeFile(pending), then return false. */
removeRecord:
    /* removeFile(pending): noLinks, unlink, syncFolder. */
    CRASHPOINT;
    atomic { file[PD] = NONE; MOVED(PD) }
settled:
    /* settle returned bothNew. */
    if
    :: phase == RECOVERY -> result = recovered; goto finish
    :: else
    fi;
#ifndef SUCCESS_AFTER_ROLLBACK
    /* writeForTesting: `if (!settle(folder)) throw ConfigReader::failure();` */
    if
    :: !bothNew -> goto failed
    :: else
    fi;
#endif
    /* The write returns success: both files hold the new bytes now, unless the editor changed
     * one after settle read it. */
    atomic {
        assert((file[AG] == newA || sinceRead[AG]) && (file[ST] == newS || sinceRead[ST]));
        result = committed
    }
    goto finish

failed:
    /* A throw. From the write (its commits or its closing settle): the record, if still there,
     * stays and the next start recovers. From recovery: it refuses, and every later start
     * refuses the same way. */
    win[AG] = false;
    win[ST] = false;
    if
    :: phase == RECOVERY -> result = refused; goto finish
    :: else -> phase = RECOVERY; goto settle
    fi

crash:
    /* Killed: the next start (installGlobalForTesting) runs recovery before anything else. */
    win[AG] = false;
    win[ST] = false;
    phase = RECOVERY;
    goto settle

finish:
    finished = true
}

/* The user or another program: replaces a file with its own version (written elsewhere and
 * renamed over it, or created), puts back the version it held before the transaction, or
 * removes it, at any moment. */
proctype Editor() {
    byte f;
    do
    :: edits < EDITS ->
        if
        :: f = AG
        :: f = ST
        fi;
        atomic {
            if
            :: file[f] = EDIT
            :: f == AG && oldA != NONE && file[AG] != oldA -> file[AG] = oldA
            :: f == ST && oldS != NONE && file[ST] != oldS -> file[ST] = oldS
            :: file[f] != NONE -> file[f] = NONE
            fi;
            MOVED(f);
            edits++;
            touched[f] = true;
            inWin[f] = inWin[f] || win[f];
            sinceRead[f] = true;
            editorValue[f] = file[f];
            editorActed = true
        }
    :: break
    od
}

#define version(f, o, n) (file[f] == o || file[f] == n || (touched[f] && file[f] == editorValue[f]))

init {
    if
    :: oldA = NONE
    :: oldA = A_OLD
    fi;
    if
    :: newA = A_NEW
    :: oldA == A_OLD -> newA = A_OLD /* the section came out the same */
    fi;
    if
    :: oldS = NONE
    :: oldS = S_OLD
    fi;
    if
    :: newS = S_NEW
    :: oldS == S_OLD -> newS = S_OLD
    fi;
    file[AG] = oldA;
    file[ST] = oldS;
    file[PD] = NONE;
    atomic { run Wizard(); run Editor() }
    (_nr_pr == 1);

    /* Whole versions only. */
    assert(version(AG, oldA, newA));
    assert(version(ST, oldS, newS));
    assert(file[PD] == NONE || file[PD] == RECORD);
    /* Without an editor recovery always finishes its work, and the pair is of one side. */
    assert(editorActed || (file[PD] == NONE && result != refused));
    assert(editorActed || (file[AG] == oldA && file[ST] == oldS) ||
           (file[AG] == newA && file[ST] == newS));
    /* With one, once the record is gone the files it left alone are of one side. */
    assert(file[PD] != NONE || touched[AG] || touched[ST] ||
           (file[AG] == oldA && file[ST] == oldS) || (file[AG] == newA && file[ST] == newS));
    /* A transaction that returned committed both files. */
    assert(result != committed ||
           ((file[AG] == newA || touched[AG]) && (file[ST] == newS || touched[ST])))
}

ltl recovers { <> (finished && (file[PD] == NONE || editorActed)) }
