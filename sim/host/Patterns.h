/*
 * The reference host's pattern generator: the samples that feed the inputs of
 * output modules during a run, one pattern per channel.
 */
#pragma once

enum PatternKind {
    PATTERN_CONSTANT = 0, /* level: the constant value */
    PATTERN_SQUARE = 1,   /* period samples, high half then low half, 5.0 / 0.0 */
    PATTERN_COUNTER = 2,  /* bit of a counter that counts samples: 5.0 when set */
    PATTERN_CSV = 3,      /* values from a column of a CSV file, repeated at its end */
};

struct Pattern {
    PatternKind kind;
    double level;    /* constant */
    unsigned period; /* square: samples per period (>= 2) */
    unsigned bit;    /* counter: which bit */
    unsigned column; /* csv: column index, 0-based */
    char path[260];  /* csv: file */
};

/* Parses a pattern text: "const:5", "square:8", "counter:3", "csv:file.csv:2".
   Returns 1 and fills the pattern, or 0 for a malformed text. */
int Pattern_Parse(const char* text, Pattern* pattern);

/* Formats a pattern as Pattern_Parse reads it. */
void Pattern_Format(const Pattern* pattern, char* text, unsigned size);

/* The pattern's value at sample index n (0 from the run's start). CSV patterns
   are loaded on first use; an unreadable file gives 0.0. */
float Pattern_Value(const Pattern* pattern, unsigned long long n);

/* Frees loaded CSV data. */
void Pattern_ReleaseAll(void);
