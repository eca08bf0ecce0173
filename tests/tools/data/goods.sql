CREATE TABLE "/data/R&D--2002/goods.dbf" (
	NAME        Character(30),
	PRICE       Numeric(10,2),
	ACTIVE      Boolean,
	BIRTH_DATE  DateTime,
	NOTES       Blob(0,1)
	);

