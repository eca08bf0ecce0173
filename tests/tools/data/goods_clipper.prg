DBCREATE("/data/R&D--2002/goods.dbf", {;
	{ "NAME",        "C",  30,   0 },;
	{ "PRICE",       "N",  10,   2 },;
	{ "ACTIVE",      "L",   1,   0 },;
	{ "BIRTH_DATE",  "D",   8,   0 },;
	{ "NOTES",       "M",  10,   0 },;
	})

