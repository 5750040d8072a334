/*
 * The card's 8255-type programmable peripheral interface, as far as mode 0
 * goes: port indices and the bits of the mode-set control word, each named for
 * what a 1 means. Shared by the extension's direction programming and the card
 * simulator.
 */
#pragma once

#define PORT_A     0u
#define PORT_B     1u
#define PORT_C     2u
#define PORT_CTRL  3u
#define PORT_COUNT 3u

#define CW_MODE_SET    0x80u /* 1: this is a mode-set word */
#define CW_A_MODE_MASK 0x60u /* group A mode; 0 is mode 0 */
#define CW_A_INPUT     0x10u
#define CW_C_HI_INPUT  0x08u
#define CW_B_MODE      0x04u /* group B mode; 0 is mode 0 */
#define CW_B_INPUT     0x02u
#define CW_C_LO_INPUT  0x01u

/* Line-driver bits of the card's direction value: 1 drives the port as output. */
#define DIR_A_OUTPUT 0x02u
#define DIR_B_OUTPUT 0x08u
#define DIR_C_OUTPUT 0x20u
